// GitHub's pagination links: which Link header values name a next page.
#include <gtest/gtest.h>

#include <string>

#include "PellowGitHub/api/LinkHeader.h"

namespace pellow {
namespace {

const std::string kPage = "https://api.github.com/user/installations/1/repositories?per_page=100";

TEST(LinkHeader, NextRelation) {
  const struct {
    std::string value;
    bool next;
  } cases[] = {
      // GitHub's own form, as its pagination guide shows it.
      {"<" + kPage + "&page=2>; rel=\"next\", <" + kPage + "&page=5>; rel=\"last\"", true},
      {"<" + kPage + "&page=1>; rel=\"prev\", <" + kPage + "&page=3>; rel=\"next\", <" + kPage +
           "&page=5>; rel=\"last\", <" + kPage + "&page=1>; rel=\"first\"",
       true},
      // The last page links back only.
      {"<" + kPage + "&page=4>; rel=\"prev\", <" + kPage + "&page=1>; rel=\"first\"", false},
      {"", false},
      {"<" + kPage + "&page=2>; rel=next", true},  // quotes are optional
      {"<" + kPage + "&page=2>;rel=\"NEXT\"", true},
      {"<" + kPage + "&page=2>; REL=\"next\"", true},
      {"<" + kPage + "&page=2> ;  rel = \"next\"", true},
      {"<" + kPage + "&page=2>; rel=\"prefetch next\"", true},  // several relations
      {"<" + kPage + "&page=2>; rel=\"nextpage\"", false},
      {"<" + kPage + "&page=2>; rel=\"next-page\"", false},
      {"<" + kPage + "&page=2>; rel=\"ne\\xt\"", true},  // a quoted pair is the character
      // Only the relation counts: "next" in the URL, the title or another parameter does not.
      {"<https://api.github.com/next?rel=next>; rel=\"last\"", false},
      {"<" + kPage + ">; title=\"next\"; rel=\"last\"", false},
      {"<" + kPage + ">; anchor=\"#x\"; rel=\"next\"", true},
      // Commas and semicolons inside the URI or a quoted string do not split entries.
      {"<https://api.github.com/a,b;c>; rel=\"next\"", true},
      {"<" + kPage + ">; title=\"a, <x>; rel=next\"; rel=\"last\"", false},
      // Only an entry's first "rel" counts.
      {"<" + kPage + ">; rel=\"last\"; rel=\"next\"", false},
      {"<" + kPage + ">; rel=\"next\"; rel=\"last\"", true},
      // Empty entries are allowed; a malformed entry is passed over and the rest still read.
      {", ,<" + kPage + ">; rel=\"next\",", true},
      {"rel=\"next\"", false},
      {"<" + kPage + "; rel=\"next\"", false},  // the URI never closes
      {"<" + kPage + ">; rel=\"next", false},   // nor does the quoted string
      {"<" + kPage + "> rel=\"next\", <" + kPage + ">; rel=\"prev\"", false},
      {"garbage; rel=\"next\", <" + kPage + ">; rel=\"next\"", true},
      {"<" + kPage + ">; rel", false},
      {"<" + kPage + ">; rel=", false},
  };
  for (const auto& c : cases) EXPECT_EQ(linkValueHasNext(c.value), c.next) << c.value;
}

TEST(LinkHeader, EveryLinkHeaderOfTheResponseInAnyLetterCase) {
  HTTPResponse response;
  response.statusCode = 200;
  EXPECT_FALSE(hasNextPageLink(response));
  response.headers = {{"link", "<" + kPage + "&page=2>; rel=\"next\""}};
  EXPECT_TRUE(hasNextPageLink(response));
  response.headers = {{"LINK", "<" + kPage + "&page=2>; rel=\"next\""}};
  EXPECT_TRUE(hasNextPageLink(response));
  // A header may be repeated instead of listing its entries with commas.
  response.headers = {{"Link", "<" + kPage + "&page=1>; rel=\"first\""},
                      {"Link", "<" + kPage + "&page=3>; rel=\"next\""}};
  EXPECT_TRUE(hasNextPageLink(response));
  response.headers = {{"Links", "<" + kPage + ">; rel=\"next\""},
                      {"X-Link", "<" + kPage + ">; rel=\"next\""}};
  EXPECT_FALSE(hasNextPageLink(response));
}

}  // namespace
}  // namespace pellow
