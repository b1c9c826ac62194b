// FakeGitHub: runs the fake GitHub service (tests/fake_github/fake_github.py) for one test and
// scripts it: HTTPS on loopback for the configured GitHub hosts, with a CA made for the run.
//
//   FakeGitHub github;
//   GitHubURLSessionTransport transport(github.session());  // its test seams lead to the fake
//   github.route({.method = "GET", .path = "/user", .bodyFile = "user.json"});
//   ... send requests to "https://api.github.com/user" ...
//   EXPECT_EQ(github.requests().at(0).header("Authorization"), "Bearer ...");
//
// For a github-helper child process, pass `environment()` instead.
// The service stops, and its CA and keys are removed, when the object goes away. Not
// thread-safe; use from the test's thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "PellowSession/Session.h"

#include "tests/support/ChildProcess.h"

namespace pellow::testing {

using FakeHeaders = std::vector<std::pair<std::string, std::string>>;

// How the service answers one method and path (with its query, or without to match any query).
struct FakeRoute {
  std::string method = "GET";
  std::string path{};
  long status = 200;
  FakeHeaders headers{};
  std::string body{};                      // used unless bodyFile or bodySize is given
  std::optional<std::string> bodyFile{};   // a file of tests/fixtures/github
  std::optional<std::size_t> bodySize{};   // that many filler bytes
  std::optional<std::string> host{};       // only requests for this host
  double delaySeconds = 0;                 // wait before answering
  bool hang = false;                       // read the request and never answer
  bool stream = false;                     // no Content-Length: the body ends at the close
  std::optional<int> times{};              // answer this often, then let the next route answer
  std::optional<std::size_t> dropAfter{};  // send only this much of the body, then drop
};

// A request as the service received it.
struct FakeRequest {
  std::string method;
  std::string path;  // with the query
  std::string host;
  FakeHeaders headers;
  std::string body;

  // The first header named `name`, compared without regard to ASCII case.
  std::optional<std::string> header(std::string_view name) const;
};

class FakeGitHub {
 public:
  // Starts the service and waits until it listens. Throws std::runtime_error on failure.
  FakeGitHub();
  ~FakeGitHub();
  FakeGitHub(const FakeGitHub&) = delete;
  FakeGitHub& operator=(const FakeGitHub&) = delete;

  int port() const { return port_; }
  // The PEM file of the CA that signed the service's certificate.
  const std::string& caPath() const { return caPath_; }
  // "web:443:127.0.0.1:PORT,api:443:127.0.0.1:PORT" for the configured hosts.
  std::string connectTo() const;
  // PELLOW_TEST_CONNECT_TO and PELLOW_TEST_CAINFO for a child process.
  std::map<std::string, std::string> environment() const;
  // Sets those variables in this process until the object goes away.
  // The process's session with the test seams that lead to this service.
  Session session() const;

  void route(const FakeRoute& route);
  // Forgets all routes and recorded requests.
  void reset();
  // Every request received so far, in order of arrival.
  std::vector<FakeRequest> requests();

 private:
  std::string command(const std::string& line);

  testkit::ChildProcess service_;  // commands on its standard input, answers on its output
  int port_ = 0;
  std::string caPath_;
};

}  // namespace pellow::testing
