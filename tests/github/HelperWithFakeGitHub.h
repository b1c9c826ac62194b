// runHelper: the real github-helper binary as git or the app runs it, for end-to-end tests.
// HelperWithFakeGitHub: that binary against the fake GitHub service, with its own private home,
// data folder and file keychain, for the operations that act on GitHub for the user.
//
//   HelperRun run = runHelper({}, R"({"operation":"status"})", {{"XDG_DATA_HOME", dir}});
//   EXPECT_EQ(run.out, R"({"ok":{"signedIn":false}})");
//
//   HelperWithFakeGitHub helper;
//   helper.signIn(42, "octocat", "ghu_stored");
//   helper.github.route({.path = "/repos/o/n", .body = "{...}"});
//   HelperRun run = helper.json(R"({"operation":"repository","repository":"o/n"})");
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "PellowGitHub/Clock.h"
#include "PellowGitHub/GitHubDate.h"
#include "tests/github/FakeGitHub.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

namespace pellow::testing {

using HelperRun = testkit::ProcessResult;
using testkit::EnvironmentChanges;

// Runs `program` (default: the github-helper under test) with `arguments`, `input` on its
// standard input and `environment` changes. Throws std::runtime_error when it cannot start.
inline HelperRun runHelper(const std::vector<std::string>& arguments, std::string input,
                           EnvironmentChanges environment = {},
                           std::string program = PELLOW_HELPER_PATH) {
  std::vector<std::string> argv{std::move(program)};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return testkit::run(std::move(argv),
                      {.environment = std::move(environment), .input = std::move(input)});
}

class HelperWithFakeGitHub {
 public:
  testkit::TemporaryFolder home;
  FakeGitHub github;

  // The child's environment: private home and data folder, no session bus (so the file
  // keychain), the fake service's seams, and `extra`.
  EnvironmentChanges environment(const EnvironmentChanges& extra = {}) const {
    EnvironmentChanges env{{"HOME", home.path()},
                           {"XDG_DATA_HOME", home / "data"},
                           {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
    for (const auto& [name, value] : github.environment()) env[name] = value;
    for (const auto& [name, value] : extra) env[name] = value;
    return env;
  }

  HelperRun json(const std::string& request, const EnvironmentChanges& extra = {}) const {
    return runHelper({}, request, environment(extra));
  }

  // Stores a credential through the "save" operation; `expiresIn` seconds from now, when given,
  // with a refresh token.
  void signIn(std::int64_t account, const std::string& login, const std::string& token,
              std::optional<double> expiresIn = std::nullopt) const {
    nlohmann::json credential{{"accessToken", token}, {"accountID", account}, {"login", login}};
    if (expiresIn) {
      const Date now = systemClock().now();
      credential["expiresAt"] = (now + *expiresIn).sinceReferenceDate;
      credential["refreshToken"] = "ghr_stored";
      credential["refreshExpiresAt"] = (now + 15811200.0).sinceReferenceDate;
      credential["clientID"] = "Iv1.stored";
    }
    const HelperRun run =
        json(nlohmann::json{{"operation", "save"}, {"credential", credential}}.dump());
    if (run.out.find("\"ok\"") == std::string::npos) {
      throw std::runtime_error("save failed: " + run.out + run.err);
    }
  }
};

}  // namespace pellow::testing
