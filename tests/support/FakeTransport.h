// FakeTransport: an in-memory GitHubTransport for unit tests. It answers scripted responses in
// order (or throws a scripted PellowError) and records every request it was given.
//
//   auto transport = std::make_shared<FakeTransport>();
//   transport->respond(200, R"({"id":1})", {{"Content-Type", "application/json"}});
//   auto result = transport->send(request);
//   EXPECT_EQ(transport->requests().at(0).url, "https://api.github.com/user");
#pragma once

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "PellowGitHub/GitHubTransport.h"
#include "PellowGitHub/PellowError.h"

namespace pellow::testing {

class FakeTransport final : public GitHubTransport {
 public:
  // Queues a response; its URL is the request's own.
  void respond(long status, std::string body, HTTPHeaders headers = {}) {
    script_.push_back(Step{status, std::move(body), std::move(headers), std::nullopt});
  }
  // Queues a failure of the exchange itself.
  void fail(std::string message) { script_.push_back(Step{0, {}, {}, std::move(message)}); }

  HTTPResult send(const HTTPRequest& request) override {
    requests_.push_back(request);
    if (script_.empty()) throw std::logic_error("FakeTransport: unexpected request " + request.url);
    Step step = std::move(script_.front());
    script_.pop_front();
    if (step.failure) throw PellowError(*step.failure);
    HTTPResult result;
    result.body = std::move(step.body);
    result.response.statusCode = step.status;
    result.response.url = request.url;
    result.response.headers = std::move(step.headers);
    return result;
  }

  const std::vector<HTTPRequest>& requests() const { return requests_; }
  bool exhausted() const { return script_.empty(); }

 private:
  struct Step {
    long status;
    std::string body;
    HTTPHeaders headers;
    std::optional<std::string> failure;
  };
  std::deque<Step> script_;
  std::vector<HTTPRequest> requests_;
};

}  // namespace pellow::testing
