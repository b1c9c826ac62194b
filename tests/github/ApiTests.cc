// Authenticated API requests and the classification of GitHub's answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/GitHubAPI.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/Json.h"
#include "PellowGitHub/support/LocaleTime.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/support/FakeKeychainBackend.h"
#include "tests/support/FakeTransport.h"

namespace pellow {
namespace {

const std::string kWaitMessage =
    "GitHub\u2019s request limit was reached. Wait a few minutes and try again. Your notes are "
    "saved locally.";

HTTPResult answer(long status, std::string body = "{}", HTTPHeaders headers = {}) {
  HTTPResult result;
  result.body = std::move(body);
  result.response.statusCode = status;
  result.response.headers = std::move(headers);
  return result;
}

// The message classifyAPIResponse fails with, or "" when it returns an object.
std::string failureOf(const HTTPResult& result) {
  try {
    classifyAPIResponse(result);
    return "";
  } catch (const PellowError& e) {
    return std::string(e.message());
  }
}

TEST(APIRequest, CarriesExactlyTheFourHeaders) {
  GitHubCredential credential("ghu_token");
  const HTTPRequest request = apiRequest("/user/installations?per_page=100&page=2", credential);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.url,
            std::string(config::apiBaseURL()) + "/user/installations?per_page=100&page=2");
  EXPECT_EQ(request.body, "");
  EXPECT_EQ(request.timeout, std::chrono::seconds(60));
  const HTTPHeaders expected{{"Authorization", "Bearer ghu_token"},
                             {"Accept", "application/vnd.github+json"},
                             {"X-GitHub-Api-Version", "2026-03-10"},
                             {"User-Agent", "Pellow-macOS"}};
  EXPECT_EQ(request.headers, expected);
}

TEST(APIClassification, StatusTable) {
  const std::string access(describeFailure(GitHubFailure::apiNoAccess));
  const std::string signIn(describeFailure(GitHubFailure::apiUnauthorized));
  const std::string moved(describeFailure(GitHubFailure::apiMoved));
  const std::string failed(describeFailure(GitHubFailure::apiFailed));
  const struct {
    long status;
    std::string message;
  } cases[] = {
      {200, ""},     {201, ""},     {299, ""},           {100, failed}, {199, failed},
      {300, failed}, {301, moved},  {302, moved},        {304, moved},  {399, moved},
      {400, failed}, {401, signIn}, {402, failed},       {403, access}, {404, access},
      {405, failed}, {428, failed}, {429, kWaitMessage}, {430, failed}, {500, failed},
      {503, failed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failureOf(answer(c.status)), c.message) << c.status;
  }
}

TEST(APIClassification, RateLimitHeaders) {
  const std::string access(describeFailure(GitHubFailure::apiNoAccess));
  const struct {
    long status;
    HTTPHeaders headers;
    std::string message;
  } cases[] = {
      {403, {{"X-RateLimit-Remaining", "0"}}, kWaitMessage},
      {403, {{"x-ratelimit-remaining", "0"}}, kWaitMessage},  // names ignore letter case
      {403, {{"X-RATELIMIT-REMAINING", "0"}}, kWaitMessage},
      {403, {{"X-RateLimit-Remaining", "12"}}, access},
      {403, {{"X-RateLimit-Remaining", "00"}}, access},  // exactly "0"
      {403, {{"X-RateLimit-Remaining", " 0"}}, access},
      {403, {{"X-RateLimit-Remaining", "12"}, {"Retry-After", "60"}}, kWaitMessage},
      {403, {{"retry-after", ""}}, kWaitMessage},  // any Retry-After, whatever its value
      {403, {{"Retry-After", "tomorrow"}}, kWaitMessage},
      {404, {{"X-RateLimit-Remaining", "0"}, {"Retry-After", "1"}}, access},
      {401,
       {{"X-RateLimit-Remaining", "0"}, {"Retry-After", "1"}},
       describeFailure(GitHubFailure::apiUnauthorized)},
      {301, {{"Retry-After", "1"}}, describeFailure(GitHubFailure::apiMoved)},
      {429, {{"X-RateLimit-Remaining", "5000"}}, kWaitMessage},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failureOf(answer(c.status, "{}", c.headers)), c.message) << c.status;
  }
}

TEST(APIClassification, ResetTimeMustBeWhollyADecimalNumber) {
  const struct {
    std::string value;
    std::optional<double> unixSeconds;
  } cases[] = {
      {"1700000000", 1700000000.0},
      {"1700000000.5", 1700000000.5},
      {"+1700000000", 1700000000.0},
      {"1.7e9", 1.7e9},
      {".5", 0.5},
      {"5.", 5.0},
      {"-60", -60.0},
      {" 1700000000", std::nullopt},
      {"1700000000 ", std::nullopt},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"17e", std::nullopt},
      {".", std::nullopt},
      {"0x10", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"1e999", std::nullopt},
      {"1,5", std::nullopt},
  };
  for (const auto& c : cases) {
    HTTPResponse response;
    response.headers = {{"x-ratelimit-reset", c.value}};
    const std::optional<Date> reset = rateLimitReset(response);
    ASSERT_EQ(reset.has_value(), c.unixSeconds.has_value()) << '"' << c.value << '"';
    if (reset) {
      EXPECT_DOUBLE_EQ(reset->unixSeconds(), *c.unixSeconds) << c.value;
    }
  }
  EXPECT_FALSE(rateLimitReset(HTTPResponse{}).has_value());
}

TEST(APIClassification, RateLimitMessageWithAKnownReset) {
  const Date reset = Date::fromUnixSeconds(1700000000);
  const std::string time = formatShortTime(reset);
  ASSERT_FALSE(time.empty());
  const std::string expected = "GitHub\u2019s request limit was reached. Try again after " + time +
                               ". Your notes are saved locally.";
  EXPECT_EQ(failureOf(answer(429, "", {{"X-RateLimit-Reset", "1700000000"}})), expected);
  EXPECT_EQ(failureOf(answer(403, "",
                             {{"X-RateLimit-Remaining", "0"},
                              {"X-RateLimit-Reset", "1700000000"},
                              {"Retry-After", "3600"}})),
            expected);
  // Retry-After is never read as a time.
  EXPECT_EQ(failureOf(answer(429, "", {{"Retry-After", "1700000000"}})), kWaitMessage);
  EXPECT_EQ(failureOf(answer(429, "", {{"X-RateLimit-Reset", " 1700000000"}})), kWaitMessage);
}

// GitHub's secondary limits answer 403 (or 429) with plenty of primary quota left and often no
// Retry-After; only the message says what happened.
TEST(APIClassification, SecondaryRateLimitMessages) {
  const std::string access(describeFailure(GitHubFailure::apiNoAccess));
  const std::string documented = testing::fixture("rate-limit-secondary-403.json");
  const HTTPHeaders quotaLeft{{"x-ratelimit-remaining", "4999"}, {"x-ratelimit-used", "1"}};
  auto message = [](const std::string& text) {
    return nlohmann::json{{"message", text}, {"documentation_url", "https://docs.github.com"}}
        .dump();
  };
  const struct {
    long status;
    std::string body;
    std::string expected;
  } cases[] = {
      {403, documented, kWaitMessage},
      {403, message("You have exceeded a SECONDARY RATE LIMIT. Please wait."), kWaitMessage},
      {403, message("secondary rate limit"), kWaitMessage},
      {403, message("Secondary Rate Limit exceeded \u2014 \u00e9t\u00e9"), kWaitMessage},
      {429, message("You have exceeded a secondary rate limit."), kWaitMessage},
      // Other 403s are about access, whatever else the body holds.
      {403, message("Resource not accessible by integration"), access},
      {403, testing::fixture("rest-error-403-login-attempts.json"), access},
      {403, message("secondary  rate limit"), access},
      {403, message("secondary rate-limit"), access},
      {403, R"({"documentation_url":"https://docs.github.com#secondary-rate-limits"})", access},
      {403, R"({"message":["secondary rate limit"]})", access},
      {403, R"(["secondary rate limit"])", access},
      {403, "<html>secondary rate limit</html>", access},
      {403, "{\"message\":\"secondary rate limit\xff\"}", access},
      {403, "", access},
      // Only 403 and 429 can be rate limits.
      {404, documented, access},
      {401, documented, describeFailure(GitHubFailure::apiUnauthorized)},
      {500, documented, describeFailure(GitHubFailure::apiFailed)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failureOf(answer(c.status, c.body, quotaLeft)), c.expected)
        << c.status << " " << c.body;
  }

  // The reset time is the primary window's, when GitHub sends one.
  const std::string time = formatShortTime(Date::fromUnixSeconds(1700000000));
  EXPECT_EQ(
      failureOf(answer(403, documented,
                       {{"X-RateLimit-Remaining", "4999"}, {"X-RateLimit-Reset", "1700000000"}})),
      "GitHub\u2019s request limit was reached. Try again after " + time +
          ". Your notes are saved locally.");
}

TEST(APIClassification, SuccessBodies) {
  EXPECT_EQ(classifyAPIResponse(answer(200, R"({"id":1,"name":"x"})")),
            nlohmann::json({{"id", 1}, {"name", "x"}}));
  EXPECT_EQ(failureOf(answer(200, R"([{"id":1}])")), "GitHub returned an invalid response.");
  EXPECT_EQ(failureOf(answer(204, R"([])")), "GitHub returned an invalid response.");
  for (const char* body : {"", "not json", "{\"id\":", "\"text\"", "42"}) {
    EXPECT_THROW(classifyAPIResponse(answer(200, body)), json::JsonSyntaxError) << body;
  }
  // A failure body is only ever looked at for a secondary limit; malformed ones are harmless.
  EXPECT_EQ(failureOf(answer(404, "<html>")), describeFailure(GitHubFailure::apiNoAccess));
  EXPECT_EQ(failureOf(answer(403, "<html>")), describeFailure(GitHubFailure::apiNoAccess));
}

TEST(GetJSON, SendsThroughTheClientsTransportAndPassesTransportFailuresOn) {
  auto transport = std::make_shared<testing::FakeTransport>();
  GitHubDesktop desktop{transport,
                        GitHubKeychain(std::string(config::kKeychainService),
                                       std::make_shared<testing::FakeKeychainBackend>())};
  GitHubCredential credential("ghu_1");
  transport->respond(200, R"({"full_name":"octo/cat"})");
  EXPECT_EQ(desktop.getJSON("/repos/octo/cat", credential)["full_name"], "octo/cat");
  ASSERT_EQ(transport->requests().size(), 1u);
  EXPECT_EQ(transport->requests()[0].url, std::string(config::apiBaseURL()) + "/repos/octo/cat");

  transport->fail(std::string(kUnreachableMessage));
  try {
    desktop.getJSON("/repos/octo/cat", credential);
    FAIL() << "no failure";
  } catch (const PellowError& e) {
    EXPECT_EQ(e.message(), kUnreachableMessage);
  }
}

}  // namespace
}  // namespace pellow
