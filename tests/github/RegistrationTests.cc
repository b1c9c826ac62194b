#include "PellowGitHub/GitHubAppRegistration.h"

#include <gtest/gtest.h>

#include <string>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow {
namespace {

bool accepted(const std::string& clientID, const std::string& slug) {
  try {
    GitHubAppRegistration registration(clientID, slug);
    EXPECT_EQ(registration.clientID(), clientID);  // kept as given
    EXPECT_EQ(registration.slug(), slug);
    return true;
  } catch (const PellowError& e) {
    EXPECT_EQ(e.message(), kRegistrationNotConfiguredMessage);
    return false;
  }
}

TEST(GitHubAppRegistration, ValidatesBothFields) {
  struct Case {
    std::string name;
    std::string clientID;
    std::string slug;
    bool ok;
  };
  const std::string e = "\xC3\xA9";            // é, one scalar
  const std::string eCombining = "e\xCC\x81";  // e + combining acute: one character, two scalars
  const Case cases[] = {
      {"typical", "Iv23liAbC_1.x-y", "pellow-notes-sync", true},
      {"100 characters", std::string(100, 'a'), std::string(100, 'b'), true},
      {"client id of 101", std::string(101, 'a'), "s", false},
      {"slug of 101", "c", std::string(101, 'b'), false},
      {"100 accented letters", "c",
       [&] {
         std::string s;
         for (int i = 0; i < 100; ++i) s += eCombining;
         return s;
       }(),
       true},
      {"101 accented letters", "c",
       [&] {
         std::string s;
         for (int i = 0; i < 101; ++i) s += e;
         return s;
       }(),
       false},
      {"non-ASCII letter", "c", "caf" + e, true},
      {"other scripts and digits", "\xE5\x90\x8D\xD9\xA3", "s", true},  // 名 and Arabic-Indic 3
      {"empty client id", "", "s", false},
      {"empty slug", "c", "", false},
      {"space", "a b", "s", false},
      {"slash", "a/b", "s", false},
      {"plus", "c", "a+b", false},
      {"percent", "a%41", "s", false},
      {"emoji", "c", "a\xF0\x9F\x98\x80", false},
      {"invalid UTF-8", "c", "a\xC3", false},
      {"dot slug", "c", ".", false},
      {"dot-dot slug", "c", "..", false},
      {"leading dot", "c", ".hidden", true},
      {"two dots inside", "c", "a..b", true},
      {"dot client id", ".", "s", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(accepted(c.clientID, c.slug), c.ok) << c.name;
  }
}

TEST(GitHubAppRegistration, BuiltInAndInstallationAddress) {
  const GitHubAppRegistration& app = GitHubAppRegistration::builtIn();
  EXPECT_EQ(app, GitHubAppRegistration("Tk5wNq0rZb8xLm3cPa7e", "pellow-notes-sync"));
  EXPECT_NE(app, GitHubAppRegistration("Tk5wNq0rZb8xLm3cPa7e", "other"));
  const std::string web(config::webBaseURL());
  EXPECT_EQ(app.installationURL(), web + "/apps/pellow-notes-sync/installations/new");
  EXPECT_EQ(GitHubAppRegistration("c", "caf\xC3\xA9").installationURL(),
            web + "/apps/caf%C3%A9/installations/new");
}

}  // namespace
}  // namespace pellow
