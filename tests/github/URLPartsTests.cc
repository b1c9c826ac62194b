// URL parts as the network module's parser reads them: what is present, and as written.
#include <gtest/gtest.h>

#include <string>

#include "PellowGitHub/support/URLParts.h"

namespace pellow {
namespace {

TEST(URLParts, ReadsThePartsAsWritten) {
  struct Case {
    std::string text;
    URLParts expected;
  };
  const Case cases[] = {
      {"https://github.com/octo/notes.git",
       {.scheme = "https", .host = "github.com", .path = "/octo/notes.git"}},
      {"HTTPS://GitHub.com/Octo/Notes",
       {.scheme = "https", .host = "GitHub.com", .path = "/Octo/Notes"}},
      {"https://u:p@github.com:8443/a/../b%2Fc?x=1&y#top",
       {.scheme = "https",
        .user = "u",
        .password = "p",
        .host = "github.com",
        .port = "8443",
        .path = "/a/../b%2Fc",
        .query = "x=1&y",
        .fragment = "top"}},
      {"https://github.com/o/n?",
       {.scheme = "https", .host = "github.com", .path = "/o/n", .query = ""}},
      {"https://github.com/o/n#",
       {.scheme = "https", .host = "github.com", .path = "/o/n", .fragment = ""}},
      {"https://github.com/o/n?#",
       {.scheme = "https", .host = "github.com", .path = "/o/n", .query = "", .fragment = ""}},
      {"https://@github.com/", {.scheme = "https", .user = "", .host = "github.com", .path = "/"}},
      {"https://github.com:443",
       {.scheme = "https", .host = "github.com", .port = "443", .path = ""}},
      {"https://github.com:/o/n", {.scheme = "https", .host = "github.com", .path = "/o/n"}},
      {"ssh://git@github.com/o/n.git",
       {.scheme = "ssh", .user = "git", .host = "github.com", .path = "/o/n.git"}},
  };
  for (const Case& c : cases) {
    const std::optional<URLParts> parts = parseURLParts(c.text);
    ASSERT_TRUE(parts.has_value()) << c.text;
    EXPECT_EQ(parts->scheme, c.expected.scheme) << c.text;
    EXPECT_EQ(parts->user, c.expected.user) << c.text;
    EXPECT_EQ(parts->password, c.expected.password) << c.text;
    EXPECT_EQ(parts->host, c.expected.host) << c.text;
    EXPECT_EQ(parts->port, c.expected.port) << c.text;
    EXPECT_EQ(parts->path, c.expected.path) << c.text;
    EXPECT_EQ(parts->query, c.expected.query) << c.text;
    EXPECT_EQ(parts->fragment, c.expected.fragment) << c.text;
  }
}

TEST(URLParts, RefusesTextsThatAreNoAbsoluteURL) {
  const std::string texts[] = {
      "",
      "github.com/octo/notes",
      "octo/notes",
      "git@github.com:octo/notes.git",
      "https:github.com/octo/notes",
      "https:/github.com/octo/notes",
      "://github.com/octo/notes",
      "https://github.com/octo/my notes",
      "https://git hub.com/octo/notes",
      "https://github.com/octo/notes\n",
      std::string("https://github.com/a\0b", 22),
      "https://github.com:99999/octo",
      "https://github.com:x/octo",
  };
  for (const std::string& text : texts) {
    EXPECT_FALSE(parseURLParts(text).has_value()) << text;
  }
}

}  // namespace
}  // namespace pellow
