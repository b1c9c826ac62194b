// CurlTransport: the module's HTTPS transport, one libcurl easy handle per instance.
//
// It sends only plain HTTPS requests to the two configured GitHub hosts, follows no redirection,
// keeps no cookies and reads no .netrc, limits a silent exchange to 20 s and a whole one to 25 s
// (or the request's own limit when shorter), and refuses a body larger than 4 MiB while it
// arrives. Its handle keeps connections open between requests of one run.
//
//   CurlTransport transport("github.com", "api.github.com");
//   PellowNetResult result = transport.send(request, sink);
//
// Not thread-safe: one request at a time. Never throws; allocation failures while a request is
// under way end it as a transport failure.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

#include "PellowGitHub/net/NetModuleABI.h"

namespace pellow::net {

class CurlTransport {
 public:
  // `testConnectTo` and `testCAInfo` are used by test-seam builds only (empty: none).
  CurlTransport(std::string webHost, std::string apiHost, std::string testConnectTo = {},
                std::string testCAInfo = {});
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  // Checks the address, then performs the exchange, reporting the response through `sink`:
  // body chunks while they arrive, then status, final URL and headers of the final response.
  // The sink may have seen part of a body when the result is not PELLOW_NET_OK.
  PellowNetResult send(const PellowNetRequest& request, const PellowNetResponseSink& sink) noexcept;

  static constexpr std::size_t kMaximumBodySize = 4'194'304;
  static constexpr long kIdleLimitSeconds = 20;
  static constexpr long kTotalLimitMilliseconds = 25'000;

 private:
  struct EasyDeleter {
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
  };

  // The transport's handle, made on first use and reset to libcurl's defaults; null when
  // libcurl cannot start.
  CURL* freshHandle();
  PellowNetResult perform(const PellowNetRequest& request, const PellowNetResponseSink& sink);

  std::string webHost_;
  std::string apiHost_;
  std::string testConnectTo_;
  std::string testCAInfo_;
  std::unique_ptr<CURL, EasyDeleter> easy_;  // made on the first request
};

}  // namespace pellow::net
