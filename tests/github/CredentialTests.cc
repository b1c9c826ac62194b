#include "PellowGitHub/GitHubCredential.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "PellowGitHub/PellowError.h"
#include "tests/github/GitHubTestSupport.h"

namespace pellow {
namespace {

GitHubCredential fullCredential() {
  GitHubCredential c("ghu_token");
  c.refreshToken = "ghr_refresh";
  c.expiresAt = Date{789012345.5};
  c.refreshExpiresAt = Date{799012345.0};
  c.clientID = "Iv1.abc";
  c.accountID = 9919;
  c.login = "octocat";
  return c;
}

TEST(GitHubCredentialRefresh, RenewsWithinSixtySecondsOfExpiryInclusive) {
  const Date now{700000000.25};
  struct Case {
    const char* name;
    std::optional<Date> expiresAt;
    bool expected;
  };
  const Case cases[] = {
      {"no expiry", std::nullopt, false},       {"exactly 60 s ahead", now + 60.0, true},
      {"60.001 s ahead", now + 60.001, false},  {"59 s ahead", now + 59.0, true},
      {"already expired", now + -3600.0, true}, {"an hour ahead", now + 3600.0, false},
  };
  for (const Case& c : cases) {
    GitHubCredential credential("t");
    credential.expiresAt = c.expiresAt;
    credential.refreshExpiresAt = now + -1.0;  // plays no part
    EXPECT_EQ(credential.needsRefresh(now), c.expected) << c.name;
  }
  GitHubCredential never("t");
  EXPECT_FALSE(never.needsRefresh(Date{1e15}));
  EXPECT_FALSE(never.needsRefresh(Date{-1e15}));
}

TEST(GitHubCredentialJSON, WritesOnlyPresentFieldsWithReferenceDateSeconds) {
  EXPECT_EQ(GitHubCredential("abc").encoded(), R"({"accessToken":"abc"})");

  GitHubCredential c("abc");
  c.expiresAt = Date::fromUnixSeconds(978307260.0);  // 2001-01-01T00:01:00Z
  c.refreshExpiresAt = Date{60.25};
  c.accountID = -7;
  EXPECT_EQ(c.encoded(),
            R"({"accessToken":"abc","accountID":-7,"expiresAt":60,"refreshExpiresAt":60.25})");
}

TEST(GitHubCredentialJSON, RoundTripsEveryField) {
  const GitHubCredential original = fullCredential();
  const GitHubCredential back =
      GitHubCredential::fromJSON(nlohmann::json::parse(original.encoded()));
  EXPECT_EQ(back, original);
  GitHubCredential other = original;
  other.login.reset();
  EXPECT_NE(other, original);
}

TEST(GitHubCredentialJSON, DecodingIsStrictAboutTypes) {
  struct Case {
    const char* json;
    bool accepted;
  };
  const Case cases[] = {
      {R"({"accessToken":"a"})", true},
      {R"({"accessToken":"a","refreshToken":null,"expiresAt":null,"refreshExpiresAt":null,
           "clientID":null,"accountID":null,"login":null})",
       true},
      {R"({"accessToken":"a","unknown":[1,{"x":2}]})", true},
      {R"({"accessToken":"a","accountID":42.0})", true},
      {R"({"accessToken":"a","expiresAt":12})", true},
      {R"({"accessToken":""})", true},  // decodes; only decodeKeychain insists on a token
      {R"({})", false},
      {R"({"accessToken":null})", false},
      {R"({"accessToken":5})", false},
      {R"({"accessToken":"a","refreshToken":5})", false},
      {R"({"accessToken":"a","clientID":true})", false},
      {R"({"accessToken":"a","login":["x"]})", false},
      {R"({"accessToken":"a","expiresAt":"2024-01-01T00:00:00Z"})", false},
      {R"({"accessToken":"a","refreshExpiresAt":false})", false},
      {R"({"accessToken":"a","accountID":1.5})", false},
      {R"({"accessToken":"a","accountID":"42"})", false},
      {R"({"accessToken":"a","accountID":true})", false},
      {R"({"accessToken":"a","accountID":9223372036854775808})", false},
      {R"(["accessToken","a"])", false},
  };
  for (const Case& c : cases) {
    const nlohmann::json value = nlohmann::json::parse(c.json);
    if (c.accepted) {
      EXPECT_NO_THROW(GitHubCredential::fromJSON(value)) << c.json;
    } else {
      EXPECT_THROW(GitHubCredential::fromJSON(value), std::invalid_argument) << c.json;
    }
  }
  const GitHubCredential c = GitHubCredential::fromJSON(
      nlohmann::json::parse(R"({"accessToken":"a","accountID":42.0,"expiresAt":12})"));
  EXPECT_EQ(c.accountID, 42);
  EXPECT_EQ(c.expiresAt, Date{12.0});
}

TEST(GitHubCredentialKeychainData, DecodesJSONOrAPlainToken) {
  struct Case {
    const char* name;
    std::string data;
    std::optional<GitHubCredential> expected;  // nothing: the unreadable message
  };
  GitHubCredential withAccount("tok");
  withAccount.accountID = 5;
  const Case cases[] = {
      {"JSON form", R"({"accessToken":"tok","accountID":5})", withAccount},
      {"JSON after white space", " \n{\"accessToken\":\"tok\",\"accountID\":5}", withAccount},
      {"plain token", "gho_plain", GitHubCredential("gho_plain")},
      {"plain token keeps its line end", "gho_plain\n", GitHubCredential("gho_plain\n")},
      {"plain token keeps spaces", " gho ", GitHubCredential(" gho ")},
      {"an array is taken as text", "[1,2]", GitHubCredential("[1,2]")},
      {"empty token in JSON", R"({"accessToken":""})", std::nullopt},
      {"JSON without a token", R"({"refreshToken":"r"})", std::nullopt},
      {"JSON with a wrong type", R"({"accessToken":"a","accountID":"5"})", std::nullopt},
      {"broken JSON", "{\"accessToken\":", std::nullopt},
      {"empty data", "", std::nullopt},
      {"invalid UTF-8", "gho_\xFF\xFE", std::nullopt},
      {"overlong UTF-8", "\xC0\xAF", std::nullopt},
      {"encoded surrogate", "a\xED\xA0\x80", std::nullopt},
      {"truncated sequence", "ab\xE2\x82", std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.expected) {
      EXPECT_EQ(GitHubCredential::decodeKeychain(c.data), *c.expected) << c.name;
      continue;
    }
    EXPECT_EQ(testing::messageOf([&] { GitHubCredential::decodeKeychain(c.data); }),
              kUnreadableCredentialMessage)
        << c.name;
  }
  // Multi-byte text is a valid plain token.
  EXPECT_EQ(GitHubCredential::decodeKeychain("t\xC3\xA9st\xF0\x9F\x94\x91").accessToken,
            "t\xC3\xA9st\xF0\x9F\x94\x91");
}

}  // namespace
}  // namespace pellow
