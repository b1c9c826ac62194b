// HelperWithFakeGitHub: the real github-helper binary against the fake GitHub service, with its
// own private home, data folder and file keychain, for end-to-end tests of the operations that
// act on GitHub for the user.
//
//   HelperWithFakeGitHub helper;
//   helper.signIn(42, "octocat", "ghu_stored");
//   helper.github.route({.path = "/repos/o/n", .body = "{...}"});
//   HelperRun run = helper.json(R"({"operation":"repository","repository":"o/n"})");
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "FakeGitHub.h"
#include "HelperProcess.h"
#include "PellowGitHub/GitHubDate.h"

namespace pellow::testing {

class HelperWithFakeGitHub {
 public:
  TemporaryDirectory home;
  FakeGitHub github;

  // The child's environment: private home and data folder, no session bus (so the file
  // keychain), the fake service's seams, and `extra`.
  EnvironmentChanges environment(const EnvironmentChanges& extra = {}) const {
    EnvironmentChanges env{{"HOME", home.path()},
                           {"XDG_DATA_HOME", home.path() + "/data"},
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
      const Date now = Date::now();
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
