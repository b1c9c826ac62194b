// The HTTPS transport against the fake GitHub service: the address guard, the exchange as sent
// and received, and the limits (redirects, cookies, body size, time).
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "FakeGitHub.h"
#include "PellowGitHub/GitHubURLSessionTransport.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/net/NetModule.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/github/GitHubTestSupport.h"

namespace pellow::testing {
namespace {

std::string web(std::string_view path) {
  return std::string(config::webBaseURL()) + std::string(path);
}
std::string api(std::string_view path) {
  return std::string(config::apiBaseURL()) + std::string(path);
}

HTTPRequest get(std::string url) {
  HTTPRequest request;
  request.url = std::move(url);
  return request;
}

TEST(HTTPResponse, HeaderLookupIgnoresCaseAndTakesTheFirst) {
  HTTPResponse response;
  response.headers = {{"X-RateLimit-Remaining", "0"},
                      {"content-type", "application/json"},
                      {"Content-Type", "text/plain"},
                      {"Retry-After", ""}};
  EXPECT_EQ(response.header("x-ratelimit-remaining"), "0");
  EXPECT_EQ(response.header("X-RATELIMIT-REMAINING"), "0");
  EXPECT_EQ(response.header("Content-Type"), "application/json");
  EXPECT_EQ(response.header("retry-after"), "");  // present, empty
  EXPECT_EQ(response.header("X-RateLimit"), std::nullopt);
  EXPECT_EQ(response.header("X-RateLimit-Remaining-"), std::nullopt);
}

TEST(GitHubURLSessionTransport, MakingOneLoadsNoModule) {
  if (netModuleLoaded()) GTEST_SKIP() << "an earlier test in this process loaded the module";
  {
    GitHubURLSessionTransport transport;
    EXPECT_EQ(messageOf([&] { transport.send(get("")); }), kInvalidAddressMessage);
  }
  EXPECT_FALSE(netModuleLoaded());
  std::ifstream maps("/proc/self/maps");
  std::string mapped;
  for (std::string line; std::getline(maps, line);) mapped += line + "\n";
  EXPECT_EQ(mapped.find(kNetModuleFileName), std::string::npos);
  EXPECT_EQ(mapped.find("libcurl"), std::string::npos);
}

class TransportTest : public ::testing::Test {
 protected:
  FakeGitHub github;
  GitHubURLSessionTransport transport{github.session()};
};

TEST_F(TransportTest, RefusesBadAddressesBeforeAnyConnection) {
  const std::string w(config::webHost());
  const std::string a(config::apiHost());
  std::string upper = w;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::vector<std::string> refused = {
      "",
      "http://" + w + "/login/device/code",
      "HTTPS://" + a + "/user",
      "ftp://" + w + "/user",
      "https://" + upper + "/user",
      "https://www." + w + "/user",
      "https://" + w + ".example.net/user",
      "https://" + w + "./user",
      "https://127.0.0.1:" + std::to_string(github.port()) + "/user",
      "https://x-access-token@" + w + "/user",
      "https://x-access-token:secret@" + a + "/user",
      "https://:secret@" + a + "/user",
      "https://@" + a + "/user",
      "https://" + w + ":443/user",
      "https://" + a + ":8443/user",
      "https:/" + a + "/user",
      "https://" + a + "/us er",
      a + "/user",
  };
  for (const std::string& url : refused) {
    EXPECT_EQ(messageOf([&] { transport.send(get(url)); }), kInvalidAddressMessage) << url;
  }
  EXPECT_TRUE(github.requests().empty());

  // The same transport does reach the service with a good address.
  EXPECT_EQ(transport.send(get(api("/no-such-path"))).response.statusCode, 404);
  EXPECT_EQ(github.requests().size(), 1u);
}

TEST_F(TransportTest, SendsTheRequestAsGivenAndReturnsTheResponse) {
  github.route(
      {.method = "POST",
       .path = "/login/oauth/access_token",
       .status = 201,
       .headers = {{"X-GitHub-Request-Id", "ABC:123"}, {"Content-Type", "application/json"}},
       .body = R"({"access_token":"t"})"});
  HTTPRequest request;
  request.method = "POST";
  request.url = web("/login/oauth/access_token");
  request.headers = {{"Accept", "application/json"},
                     {"Content-Type", "application/x-www-form-urlencoded"},
                     {"User-Agent", "Pellow-test"}};
  request.body = "client_id=Iv1.x&device_code=d%20c";

  const HTTPResult result = transport.send(request);
  EXPECT_EQ(result.response.statusCode, 201);
  EXPECT_EQ(result.body, R"({"access_token":"t"})");
  EXPECT_EQ(result.response.url, request.url);
  EXPECT_EQ(result.response.header("x-github-request-id"), "ABC:123");

  const std::vector<FakeRequest> received = github.requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].host, config::webHost());
  EXPECT_EQ(received[0].path, "/login/oauth/access_token");
  EXPECT_EQ(received[0].body, request.body);
  EXPECT_EQ(received[0].header("Accept"), "application/json");
  EXPECT_EQ(received[0].header("User-Agent"), "Pellow-test");
  EXPECT_EQ(received[0].header("Expect"), std::nullopt);
}

TEST_F(TransportTest, OtherMethodsCarryTheirBodyAndHeadNone) {
  github.route({.method = "DELETE", .path = "/applications/x/grant", .status = 204});
  github.route({.method = "HEAD", .path = "/user", .body = "announced, never sent"});
  HTTPRequest remove = get(api("/applications/x/grant"));
  remove.method = "DELETE";
  remove.body = R"({"access_token":"t"})";
  EXPECT_EQ(transport.send(remove).response.statusCode, 204);
  HTTPRequest head = get(api("/user"));
  head.method = "HEAD";
  head.timeout = std::chrono::seconds(5);  // a HEAD that waited for the body would run out
  const HTTPResult result = transport.send(head);
  EXPECT_EQ(result.response.statusCode, 200);
  EXPECT_EQ(result.body, "");

  const std::vector<FakeRequest> received = github.requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].method, "DELETE");
  EXPECT_EQ(received[0].body, remove.body);
  EXPECT_EQ(received[1].method, "HEAD");
}

TEST_F(TransportTest, ReturnsARedirectionWithoutFollowingIt) {
  github.route({.path = "/repos/octo/old",
                .status = 302,
                .headers = {{"Location", api("/repositories/42")}},
                .body = "moved"});
  github.route({.path = "/repositories/42", .body = "{}"});

  const HTTPResult result = transport.send(get(api("/repos/octo/old")));
  EXPECT_EQ(result.response.statusCode, 302);
  EXPECT_EQ(result.body, "moved");
  EXPECT_EQ(result.response.url, api("/repos/octo/old"));
  EXPECT_EQ(result.response.header("location"), api("/repositories/42"));
  const std::vector<FakeRequest> received = github.requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].path, "/repos/octo/old");
}

TEST_F(TransportTest, CapsTheBodyAtFourMebibytes) {
  struct Case {
    std::size_t size;
    bool announced;  // with Content-Length, or only known as it arrives
    bool accepted;
  };
  const Case cases[] = {
      {4'194'304, true, true},
      {4'194'305, true, false},
      {4'194'304, false, true},
      {4'194'305, false, false},
  };
  for (const Case& c : cases) {
    const std::string path = "/big/" + std::to_string(c.size) + (c.announced ? "" : "/stream");
    github.route({.path = path, .bodySize = c.size, .stream = !c.announced});
    SCOPED_TRACE(path);
    if (c.accepted) {
      EXPECT_EQ(transport.send(get(api(path))).body.size(), c.size);
    } else {
      EXPECT_EQ(messageOf([&] { transport.send(get(api(path))); }), kInvalidResponseMessage);
    }
  }
  // The transport is still good after a refused body.
  EXPECT_EQ(transport.send(get(api("/after"))).response.statusCode, 404);
}

TEST_F(TransportTest, NeverSendsCookiesBack) {
  github.route({.path = "/set",
                .headers = {{"Set-Cookie", "session=abc; Path=/; Secure"},
                            {"Set-Cookie", "other=1; Domain=" + std::string(config::webHost())}}});
  transport.send(get(web("/set")));
  transport.send(get(web("/set")));
  transport.send(get(web("/next")));
  transport.send(get(api("/user")));
  const std::vector<FakeRequest> received = github.requests();
  ASSERT_EQ(received.size(), 4u);
  for (const FakeRequest& request : received) {
    EXPECT_EQ(request.header("Cookie"), std::nullopt) << request.path;
  }
}

TEST_F(TransportTest, FailuresToConnectBecomeTheConnectionMessage) {
  // A certificate that only the test CA vouches for is refused when that CA is not trusted.
  Session untrusted = github.session();
  untrusted.testCAInfo.clear();
  setenv("SSL_CERT_FILE", github.caPath().c_str(), 1);  // must not be honoured either
  EXPECT_EQ(messageOf([&] { GitHubURLSessionTransport(untrusted).send(get(api("/user"))); }),
            kUnreachableMessage);
  unsetenv("SSL_CERT_FILE");

  // Nothing listens on the port.
  Session closed = github.session();
  closed.testConnectTo = std::string(config::apiHost()) + ":443:127.0.0.1:1";
  EXPECT_EQ(messageOf([&] { GitHubURLSessionTransport(closed).send(get(api("/user"))); }),
            kUnreachableMessage);
}

TEST_F(TransportTest, HonoursTheRequestsOwnShorterTimeLimit) {
  github.route({.path = "/slow", .delaySeconds = 10});
  HTTPRequest request = get(api("/slow"));
  request.timeout = std::chrono::milliseconds(1'000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(messageOf([&] { transport.send(request); }), kUnreachableMessage);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST_F(TransportTest, GivesUpOnASilentServerWithinTheTotalLimit) {
  github.route({.path = "/user", .hang = true});
  HTTPRequest request = get(api("/user"));
  request.timeout = std::chrono::seconds(60);  // as the callers set it: the transport's limits win
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(messageOf([&] { transport.send(request); }), kUnreachableMessage);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(27));
  // The connection was made and the request arrived: it was the silence that ended it.
  EXPECT_EQ(github.requests().size(), 1u);
}

}  // namespace
}  // namespace pellow::testing
