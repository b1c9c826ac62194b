// Repository references: every accepted form and the rules applied in their order.
#include <gtest/gtest.h>

#include <string>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/RepositoryReference.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/github/GitHubTestSupport.h"

namespace pellow {
namespace {

const std::string kHost(config::webHost());
const std::string kWeb(config::webBaseURL());

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

struct Case {
  std::string input;
  std::string expected;  // empty: rejected
};

void expectCases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    const std::optional<std::string> slug = tryRepositorySlug(c.input);
    if (c.expected.empty()) {
      EXPECT_FALSE(slug.has_value()) << "accepted \"" << c.input << "\" as " << slug.value_or("");
    } else {
      EXPECT_EQ(slug.value_or("<rejected>"), c.expected) << "input \"" << c.input << "\"";
    }
  }
}

TEST(RepositorySlug, SlugFormsAndTheOrderOfSlashAndDotGit) {
  expectCases({
      {"owner/name", "owner/name"},
      {"owner/name.git", "owner/name"},
      {"  owner/name.git\n", "owner/name"},
      {"\t\r\n owner/name \u3000\u2028\u0085", "owner/name"},  // Unicode white space and newlines
      {"\u200Bowner/name", ""},  // zero-width space is not white space
      {"Owner/Name", "Owner/Name"},
      {"owner/name/", "owner/name"},
      {"owner/name//", ""},
      {"owner/name.git/", "owner/name"},  // the "/" goes first, then ".git"
      {"owner/name/.git", ""},            // ".git" goes, the "/" stays: three pieces
      {"owner/name.git.git", "owner/name.git"},
      {"owner/name.GIT", "owner/name.GIT"},
      {"owner/.git", ""},  // nothing left of the name
      {"/owner/name", ""},
      {"owner", ""},
      {"owner/name/extra", ""},
      {kHost + "/owner/name", ""},  // a bare host is a third piece
      {"", ""},
      {" \n\t ", ""},
  });
}

TEST(RepositorySlug, PartRules) {
  const std::string hundred(100, 'a');
  expectCases({
      {hundred + "/" + hundred, hundred + "/" + hundred},
      {hundred + "a/name", ""},
      {"owner/" + hundred + "a", ""},
      {"-/-", "-/-"},
      {"--a--/_x", "--a--/_x"},
      {"owner/.a", "owner/.a"},
      {"owner/.", ""},
      {"owner/..", ""},
      {"owner/...", "owner/..."},
      // Managed users' handles end in "_" and the enterprise's short code.
      {"mona-cat_octo/notes", "mona-cat_octo/notes"},
      {"_/_", "_/_"},
      {"__/n", "__/n"},
      {std::string(99, 'a') + "_/n", std::string(99, 'a') + "_/n"},
      {std::string(100, '_') + "/n", std::string(100, '_') + "/n"},
      {std::string(101, '_') + "/n", ""},
      {"_/", ""},
      {"_/.", ""},
      {"_/..", ""},
      {"mona-cat_octo/", ""},
      {"ow.ner/name", ""},
      {"ow.ner/name", ""},
      {"owner/na me", ""},
      {"owner/n\u00e4me", ""},
      {"\u00f6wner/name", ""},
      {"owner/name\xEF\xBF\xBD", ""},
      {"/name", ""},
      {"owner/", ""},
  });
}

TEST(RepositorySlug, WebAddresses) {
  expectCases({
      {kWeb + "/owner/name", "owner/name"},
      {kWeb + "/mona-cat_octo/notes.git/", "mona-cat_octo/notes"},
      {kWeb + "/Owner/Name.git/", "Owner/Name"},
      {"https://" + upper(kHost) + "/owner/name.git", "owner/name"},
      {" " + kWeb + "/owner/name\n", "owner/name"},
      {kWeb + "/owner/na%6De", "owner/name"},  // the path is percent-decoded
      {kWeb + "/owner%2Fname", "owner/name"},
      {kWeb + "/owner/na%2", ""},
      {kWeb + "/owner/name/extra", ""},
      {kWeb + "/owner", ""},
      {kWeb + "/", ""},
      {kWeb, ""},
      {"https://" + kHost + ":443/owner/name", ""},
      {"https://" + kHost + ":8443/owner/name", ""},
      {kWeb + "/owner/name?tab=readme", ""},
      {kWeb + "/owner/name?", ""},  // an empty query is still a query
      {kWeb + "/owner/name#readme", ""},
      {kWeb + "/owner/name#", ""},
      {"https://user@" + kHost + "/owner/name", ""},
      {"https://user:secret@" + kHost + "/owner/name", ""},
      {"http://" + kHost + "/owner/name", ""},
      {"HTTPS://" + kHost + "/owner/name", ""},  // the scheme must be exactly "https"
      {"ssh://git@" + kHost + "/owner/name.git", ""},
      {"https://example.com/owner/name", ""},
      {"https://" + kHost + ".evil.example/owner/name", ""},
      {"https:///owner/name", ""},
      {"https://", ""},
      {"owner/name://", ""},
  });
}

TEST(RepositorySlug, SSHAddresses) {
  expectCases({
      {"git@" + kHost + ":owner/name.git", "owner/name"},
      {"git@" + kHost + ":Owner/Name", "Owner/Name"},
      {"git@" + kHost + ":owner/name.git/", "owner/name"},
      {"git@" + upper(kHost) + ":owner/name", ""},  // the prefix is matched exactly
      {"git@example.com:owner/name", ""},
      {"GIT@" + kHost + ":owner/name", ""},
      {"git@" + kHost + "/owner/name", ""},
  });
}

TEST(RepositorySlug, RejectionCarriesTheOneMessage) {
  EXPECT_EQ(testing::messageOf([] { repositorySlug("not a repository"); }),
            "Enter owner/repository or its " + kWeb + "/owner/repository URL.");
  EXPECT_EQ(repositorySlug(" Octo/Cat.git "), "Octo/Cat");
}

}  // namespace
}  // namespace pellow
