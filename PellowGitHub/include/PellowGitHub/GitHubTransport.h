// GitHubTransport: the one narrow interface through which every HTTP exchange with GitHub goes.
//
// Callers build the whole request (method, URL, headers, body, timeout) and interpret the status
// code; a transport only guards the address, performs the exchange and turns transport failures
// into user messages. Tests substitute an in-memory implementation.
//
//   GitHubURLSessionTransport transport;
//   HTTPRequest request{.method = "GET", .url = "https://api.github.com/user"};
//   request.headers.emplace_back("Accept", "application/vnd.github+json");
//   auto [body, response] = transport.send(request);
//   if (response.statusCode == 200) ...
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellow {

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

struct HTTPRequest {
  std::string method = "GET";
  std::string url;  // empty: the request has no URL
  HTTPHeaders headers;
  std::string body;
  // The request's own limit; the transport's own limits (20 s idle, 25 s total) apply as well.
  std::chrono::milliseconds timeout{60'000};
};

struct HTTPResponse {
  long statusCode = 0;
  std::string url;  // the URL the final response came from
  HTTPHeaders headers;

  // The value of the first header named `name`, compared without regard to ASCII case.
  std::optional<std::string_view> header(std::string_view name) const;
};

struct HTTPResult {
  std::string body;
  HTTPResponse response;
};

class GitHubTransport {
 public:
  virtual ~GitHubTransport() = default;

  // Sends `request` and returns the body and response, whatever the HTTP status (a refused
  // redirection comes back as its 3xx). Throws PellowError:
  //   "Invalid GitHub address."  bad address, before any network activity;
  //   "Could not reach GitHub. ..."  any transport failure, time-outs included;
  //   "GitHub returned an invalid response. Try again."  response checks failed.
  // Not thread-safe: one request at a time.
  virtual HTTPResult send(const HTTPRequest& request) = 0;
};

}  // namespace pellow
