// PELLOW_TRACE through the real github-helper: a sign-in, a renewal and git's request with the
// trace on say what happened, and never carry a token, code or secret.

#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/github/HelperWithFakeGitHub.h"

namespace pellow::testing {
namespace {

using nlohmann::json;

TEST(TraceEndToEnd, SaysWhatHappenedAndNoSecret) {
  HelperWithFakeGitHub helper;
  const std::string traceFile = (helper.home / "trace.log").string();
  const EnvironmentChanges traced{{"PELLOW_TRACE", traceFile}};

  json device = json::parse(fixture("device-code.json"));
  device["verification_uri"] = std::string(config::webBaseURL()) + "/login/device";
  helper.github.route({.method = "POST", .path = "/login/device/code", .body = device.dump()});
  const std::string tokenPath = "/login/oauth/access_token";
  helper.github.route({.method = "POST",
                       .path = tokenPath,
                       .bodyFile = std::string("token-expiring.json"),
                       .times = 1});
  helper.github.route({.method = "GET", .path = "/user", .bodyFile = std::string("user.json")});
  // The renewal's answer: new secrets of its own, so that each can be looked for.
  helper.github.route({.method = "POST",
                       .path = tokenPath,
                       .body = R"({"access_token":"ghu_renewedSecretToken","expires_in":28800,)"
                               R"("refresh_token":"ghr_renewedSecretRefresh",)"
                               R"("refresh_token_expires_in":15811200,"token_type":"bearer"})"});

  // Sign in: begin, poll (authorized), save.
  const json code = json::parse(helper.json(R"({"operation":"begin"})", traced).out).at("ok");
  const json authorized =
      json::parse(helper.json(json{{"operation", "poll"}, {"code", code}}.dump(), traced).out)
          .at("ok");
  ASSERT_EQ(authorized.at("status"), "authorized") << authorized.dump();
  json credential = authorized.at("credential");
  // Expiring now: git's request below renews it.
  credential["expiresAt"] = systemClock().now().sinceReferenceDate + 30.0;
  ASSERT_NE(helper.json(json{{"operation", "save"}, {"credential", credential}}.dump(), traced)
                .out.find("\"ok\""),
            std::string::npos);

  const HelperRun git =
      runHelper({"credential", "1", "get"},
                "protocol=https\nhost=" + std::string(config::webHost()) + "\npath=o/n.git\n",
                helper.environment(traced));
  ASSERT_EQ(git.out, "username=x-access-token\npassword=ghu_renewedSecretToken\n\n") << git.err;

  const std::string trace = testkit::readFile(traceFile);
  for (const std::string& line :
       {std::string("http: POST /login/device/code → 200"),
        std::string("http: POST /login/oauth/access_token → 200"),
        std::string("http: GET /user → 200"), std::string("store: file store"),
        std::string("lock: holding ")}) {
    EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;
  }
  for (const std::string& secret :
       {code.at("deviceCode").get<std::string>(), code.at("userCode").get<std::string>(),
        credential.at("accessToken").get<std::string>(),
        credential.at("refreshToken").get<std::string>(), std::string("ghu_renewedSecretToken"),
        std::string("ghr_renewedSecretRefresh")}) {
    EXPECT_EQ(trace.find(secret), std::string::npos) << secret << " is in the trace";
  }
}

}  // namespace
}  // namespace pellow::testing
