#include "PellowGitHub/GitHubURLSessionTransport.h"

#include <chrono>

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/net/NetModule.h"
#include "PellowGitHub/net/NetModuleABI.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "Session/Trace.h"

namespace pellow {
namespace {

PellowNetString cString(std::string_view s) { return PellowNetString{s.data(), s.size()}; }

std::string_view view(PellowNetString s) {
  return s.data == nullptr ? std::string_view() : std::string_view(s.data, s.size);
}

// A CR or LF would let one header smuggle in others; a NUL would cut it short.
bool sendable(std::string_view text) { return text.find_first_of("\r\n", 0, 3) == text.npos; }

void checkSendable(const HTTPRequest& request) {
  const bool methodOK = !request.method.empty() && std::ranges::all_of(request.method, [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
  });
  if (!methodOK) throw std::invalid_argument("HTTP method cannot be sent: " + request.method);
  for (const auto& [name, value] : request.headers) {
    if (name.empty() || name.find(':') != std::string::npos || !sendable(name) ||
        !sendable(value)) {
      throw std::invalid_argument("HTTP header cannot be sent: " + name);
    }
  }
}

// Collects the module's report. The module calls these from inside transport_send, through C
// frames: nothing may be thrown across them, so a failure is remembered and raised afterwards.
struct ResponseCollector {
  HTTPResult result;
  bool failed = false;

  template <typename Action>
  void guarded(Action action) noexcept {
    if (failed) return;
    try {
      action();
    } catch (...) {
      failed = true;
    }
  }

  static ResponseCollector& of(void* context) { return *static_cast<ResponseCollector*>(context); }

  PellowNetResponseSink sink() {
    return PellowNetResponseSink{
        .context = this,
        .status = [](void* c, long code) { of(c).result.response.statusCode = code; },
        .url =
            [](void* c, PellowNetString url) {
              auto& self = of(c);
              self.guarded([&] { self.result.response.url = view(url); });
            },
        .header =
            [](void* c, PellowNetString name, PellowNetString value) {
              auto& self = of(c);
              self.guarded(
                  [&] { self.result.response.headers.emplace_back(view(name), view(value)); });
            },
        .body =
            [](void* c, PellowNetString chunk) {
              auto& self = of(c);
              self.guarded([&] { self.result.body.append(view(chunk)); });
            },
    };
  }
};

}  // namespace

namespace detail {

void ModuleTransportDeleter::operator()(void* transport) const noexcept {
  module->transport_destroy(transport);
}

}  // namespace detail

namespace {

// What the trace shows of an exchange: the method, the URL's path and query (the helper never
// puts a secret there; bodies and request headers, which carry them, are never shown), the
// status, GitHub's rate-limit headers and the time taken.
void traceExchange(const HTTPRequest& request, PellowNetResult result, const HTTPResponse& response,
                   std::chrono::milliseconds elapsed) {
  std::string_view target = request.url;
  if (const std::size_t scheme = target.find("://"); scheme != std::string_view::npos) {
    const std::size_t slash = target.find('/', scheme + 3);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  if (const std::size_t fragment = target.find('#'); fragment != std::string_view::npos) {
    target = target.substr(0, fragment);
  }
  std::string text = request.method + " " + std::string(target) + " → ";
  switch (result) {
    case PELLOW_NET_OK:
      text += std::to_string(response.statusCode);
      break;
    case PELLOW_NET_INVALID_ADDRESS:
      text += "refused address";
      break;
    case PELLOW_NET_INVALID_RESPONSE:
      text += "invalid response";
      break;
    default:
      text += "unreachable";
      break;
  }
  for (const char* name : {"x-ratelimit-limit", "x-ratelimit-remaining", "x-ratelimit-used",
                           "x-ratelimit-reset", "x-ratelimit-resource", "retry-after"}) {
    if (const auto value = response.header(name)) {
      text += " ";
      text += name;
      text += "=";
      text += *value;
    }
  }
  text += " (" + std::to_string(elapsed.count()) + " ms)";
  trace::line("http", text);
}

}  // namespace

HTTPResult GitHubURLSessionTransport::send(const HTTPRequest& request) {
  // A request without a URL is refused without loading anything.
  if (request.url.empty()) throw PellowError(GitHubFailure::invalidAddress);
  checkSendable(request);

  if (!transport_) {
    const PellowNetModule& module = netModule();
    void* created =
        module.transport_create(cString(config::webHost()), cString(config::apiHost()),
                                cString(session_.testConnectTo), cString(session_.testCAInfo));
    if (created == nullptr) throw std::bad_alloc();
    transport_ = std::unique_ptr<void, detail::ModuleTransportDeleter>(created, {&module});
  }
  const PellowNetModule& module = *transport_.get_deleter().module;

  std::vector<PellowNetHeader> headers;
  headers.reserve(request.headers.size());
  for (const auto& [name, value] : request.headers) {
    headers.push_back(PellowNetHeader{cString(name), cString(value)});
  }
  const auto timeout =
      std::clamp<long long>(request.timeout.count(), 0, std::numeric_limits<long>::max());
  const PellowNetRequest netRequest{
      .method = cString(request.method),
      .url = cString(request.url),
      .headers = headers.data(),
      .header_count = headers.size(),
      .body = cString(request.body),
      .timeout_ms = static_cast<long>(timeout),
  };

  ResponseCollector collector;
  const PellowNetResponseSink sink = collector.sink();
  const auto started = std::chrono::steady_clock::now();
  const PellowNetResult result = module.transport_send(transport_.get(), &netRequest, &sink);
  if (trace::enabled()) {
    traceExchange(request, result, collector.result.response,
                  std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started));
  }
  switch (result) {
    case PELLOW_NET_OK:
      break;
    case PELLOW_NET_INVALID_ADDRESS:
      throw PellowError(GitHubFailure::invalidAddress, {.what = request.method});
    case PELLOW_NET_INVALID_RESPONSE:
      throw PellowError(GitHubFailure::invalidResponse, {.what = request.method});
    case PELLOW_NET_UNREACHABLE:
    default:
      throw PellowError(GitHubFailure::unreachable, {.what = request.method});
  }
  if (collector.failed) throw std::bad_alloc();
  return std::move(collector.result);
}

}  // namespace pellow
