#include "PellowGitHub/net/CurlTransport.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "PellowGitHub/net/URLParser.h"

namespace pellow::net {
namespace {

std::string_view view(PellowNetString s) {
  return s.data == nullptr ? std::string_view() : std::string_view(s.data, s.size);
}

PellowNetString cString(std::string_view s) { return PellowNetString{s.data(), s.size()}; }

struct SlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

// Appends one line; throws std::bad_alloc when libcurl cannot.
void append(Slist& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) throw std::bad_alloc();
  static_cast<void>(list.release());
  list.reset(grown);
}

// libcurl's global state is set up once per process, and only by a run that sends a request:
// runs that never touch the network never pay for TLS initialisation.
bool globalInitOnce() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

// What one exchange has received so far. libcurl calls the callbacks below from inside
// curl_easy_perform on this thread; they must not throw through its C frames.
struct Exchange {
  const PellowNetResponseSink* sink = nullptr;
  std::size_t bodySize = 0;
  bool bodyTooLarge = false;
  bool allocationFailed = false;
  std::vector<std::pair<std::string, std::string>> headers;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* exchange = static_cast<Exchange*>(context);
  const std::size_t length = size * count;
  if (length > CurlTransport::kMaximumBodySize - exchange->bodySize) {
    exchange->bodyTooLarge = true;
    return 0;  // anything but `length` ends the transfer
  }
  exchange->bodySize += length;
  if (exchange->sink->body != nullptr) {
    exchange->sink->body(exchange->sink->context, PellowNetString{data, length});
  }
  return length;
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::size_t onHeaderLine(char* data, std::size_t size, std::size_t count, void* context) {
  auto* exchange = static_cast<Exchange*>(context);
  const std::size_t length = size * count;
  const std::string_view line(data, length);
  try {
    if (line.starts_with("HTTP/")) {
      // A new response begins (after an interim 1xx): only the final one's headers count.
      exchange->headers.clear();
    } else if ((line.starts_with(' ') || line.starts_with('\t')) && !exchange->headers.empty()) {
      // An obsolete folded line continues the previous value.
      std::string& value = exchange->headers.back().second;
      value += ' ';
      value += trimmed(line);
    } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      exchange->headers.emplace_back(std::string(line.substr(0, colon)),
                                     std::string(trimmed(line.substr(colon + 1))));
    }
  } catch (...) {
    exchange->allocationFailed = true;
    return 0;
  }
  return length;
}

bool isAllowedAddress(const ParsedURL& url, std::string_view webHost, std::string_view apiHost) {
  if (url.writtenScheme != "https") return false;
  if (!url.host || (*url.host != webHost && *url.host != apiHost)) return false;
  if (url.user || url.password) return false;
  return !url.port;
}

#ifdef PELLOW_TEST_SEAMS
// Test builds only: "HOST:443:127.0.0.1:PORT" entries, comma-separated, send the configured
// hosts to a fake service on loopback while the URLs keep their real form.
Slist testConnectTo(std::string_view value) {
  Slist list;
  std::string_view rest(value);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view entry = trimmed(rest.substr(0, comma));
    if (!entry.empty()) append(list, std::string(entry));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return list;
}
#endif

struct ResetOnExit {
  CURL* easy;
  explicit ResetOnExit(CURL* handle) : easy(handle) {}
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;
  ~ResetOnExit() { curl_easy_reset(easy); }
};

// libcurl opens its sockets without close-on-exec: an application that embeds the library and
// starts a program during an exchange would hand the connection on to it.
curl_socket_t openCloseOnExecSocket(void*, curlsocktype, curl_sockaddr* address) {
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

template <typename Value>
bool set(CURL* easy, CURLoption option, Value value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

// The request's URL, parsed, when it may be sent at all: https to one of the two hosts, with no
// user, password or port.
std::optional<ParsedURL> allowedURL(const PellowNetRequest& request, std::string_view webHost,
                                    std::string_view apiHost) {
  if (request.url.size == 0) return std::nullopt;
  std::optional<ParsedURL> url = parseURL(view(request.url));
  if (!url || !isAllowedAddress(*url, webHost, apiHost)) return std::nullopt;
  return url;
}

// The request's header lines as libcurl takes them. Throws std::bad_alloc.
Slist headerList(const PellowNetRequest& request) {
  Slist headers;
  for (std::size_t i = 0; i < request.header_count; ++i) {
    const std::string_view name = view(request.headers[i].name);
    const std::string_view value = view(request.headers[i].value);
    // "Name;" is libcurl's way to send a header with an empty value.
    append(headers,
           value.empty() ? std::string(name) + ";" : std::string(name) + ": " + std::string(value));
  }
  // No "Expect: 100-continue" round trip for larger bodies.
  append(headers, "Expect:");
  return headers;
}

// The options every request gets: the address, the guards (https only, no redirection, no
// .netrc, peer and host verified), the time and size limits, the headers and the callbacks that
// fill `exchange`. Whether libcurl took them all.
bool setTransferOptions(CURL* easy, const ParsedURL& url, long requestTimeoutMs,
                        curl_slist* headers, Exchange& exchange) {
  long totalLimit = CurlTransport::kTotalLimitMilliseconds;
  if (requestTimeoutMs > 0) totalLimit = std::min(totalLimit, requestTimeoutMs);
  constexpr long kIdleLimit = CurlTransport::kIdleLimitSeconds;
  return set(easy, CURLOPT_CURLU, url.handle.get()) && set(easy, CURLOPT_PROTOCOLS_STR, "https") &&
         set(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https") && set(easy, CURLOPT_FOLLOWLOCATION, 0L) &&
         set(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED)) &&
         set(easy, CURLOPT_SSL_VERIFYPEER, 1L) && set(easy, CURLOPT_SSL_VERIFYHOST, 2L) &&
         set(easy, CURLOPT_CONNECTTIMEOUT, kIdleLimit) && set(easy, CURLOPT_LOW_SPEED_LIMIT, 1L) &&
         set(easy, CURLOPT_LOW_SPEED_TIME, kIdleLimit) &&
         set(easy, CURLOPT_TIMEOUT_MS, totalLimit) &&
         set(easy, CURLOPT_MAXFILESIZE_LARGE,
             static_cast<curl_off_t>(CurlTransport::kMaximumBodySize)) &&
         set(easy, CURLOPT_ACCEPT_ENCODING, "") &&
         set(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
         set(easy, CURLOPT_HTTPHEADER, headers) && set(easy, CURLOPT_WRITEFUNCTION, &onBody) &&
         set(easy, CURLOPT_WRITEDATA, &exchange) &&
         set(easy, CURLOPT_HEADERFUNCTION, &onHeaderLine) &&
         set(easy, CURLOPT_HEADERDATA, &exchange) &&
         set(easy, CURLOPT_OPENSOCKETFUNCTION, &openCloseOnExecSocket);
}

// The method, and for anything but GET and HEAD the body. Set after the transfer options: HEAD
// lowers their size limit. Whether libcurl took them all.
bool setMethod(CURL* easy, std::string_view method, std::string_view body) {
  if (method == "GET") return set(easy, CURLOPT_HTTPGET, 1L);
  if (method == "HEAD") {
    // A HEAD answer announces a body it does not carry.
    return set(easy, CURLOPT_NOBODY, 1L) &&
           set(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(0));
  }
  // The body goes as it is, with its length; libcurl does not copy it.
  bool ok = set(easy, CURLOPT_POST, 1L) &&
            set(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) &&
            set(easy, CURLOPT_POSTFIELDS, body.empty() ? "" : body.data());
  // libcurl keeps its own copy of a string option.
  if (method != "POST") ok = ok && set(easy, CURLOPT_CUSTOMREQUEST, std::string(method).c_str());
  return ok;
}

#ifdef PELLOW_TEST_SEAMS
// Test builds only: the fake service's address and CA bundle, as the session gave them.
// `connectTo` must outlive the transfer. Whether libcurl took them all.
bool setTestSeams(CURL* easy, const Slist& connectTo, const std::string& caInfo) {
  bool ok = true;
  if (connectTo) {
    // The fake service is reached directly; a proxy from the environment would bypass it.
    ok = set(easy, CURLOPT_CONNECT_TO, connectTo.get()) && set(easy, CURLOPT_NOPROXY, "*");
  }
  if (!caInfo.empty()) {
    // Trust this bundle instead of the system's, not in addition to it.
    ok = ok && set(easy, CURLOPT_CAINFO, caInfo.c_str()) &&
         set(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  }
  return ok;
}
#endif

// Runs the exchange. What went wrong on the way, or PELLOW_NET_OK.
PellowNetResult transfer(CURL* easy, const Exchange& exchange) {
  const CURLcode code = curl_easy_perform(easy);
  if (exchange.bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED) return PELLOW_NET_INVALID_RESPONSE;
  if (code != CURLE_OK || exchange.allocationFailed) return PELLOW_NET_UNREACHABLE;
  return PELLOW_NET_OK;
}

// Checks the final response and reports it to `sink`: status, final URL, then the headers (the
// body went out while it arrived). Must run before the handle is reset.
PellowNetResult deliver(CURL* easy, const ParsedURL& url, const Exchange& exchange,
                        const PellowNetResponseSink& sink) {
  long status = 0;
  char* effectiveURL = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status <= 0 ||
      curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effectiveURL) != CURLE_OK ||
      effectiveURL == nullptr) {
    return PELLOW_NET_INVALID_RESPONSE;
  }
  // libcurl reports the URL in its normal form; with redirections off it can only differ from
  // the request's own if something went wrong.
  if (url.normalized != effectiveURL) return PELLOW_NET_INVALID_RESPONSE;

  if (sink.status != nullptr) sink.status(sink.context, status);
  if (sink.url != nullptr) sink.url(sink.context, cString(effectiveURL));
  if (sink.header != nullptr) {
    for (const auto& [name, value] : exchange.headers) {
      sink.header(sink.context, cString(name), cString(value));
    }
  }
  return PELLOW_NET_OK;
}

}  // namespace

CurlTransport::CurlTransport(std::string webHost, std::string apiHost, std::string testConnectTo,
                             std::string testCAInfo)
    : webHost_(std::move(webHost)),
      apiHost_(std::move(apiHost)),
      testConnectTo_(std::move(testConnectTo)),
      testCAInfo_(std::move(testCAInfo)) {}

PellowNetResult CurlTransport::send(const PellowNetRequest& request,
                                    const PellowNetResponseSink& sink) noexcept {
  try {
    return perform(request, sink);
  } catch (...) {
    return PELLOW_NET_UNREACHABLE;
  }
}

CURL* CurlTransport::freshHandle() {
  if (!globalInitOnce()) return nullptr;
  if (!easy_) {
    easy_.reset(curl_easy_init());
    if (!easy_) return nullptr;
  }
  // Every request starts from libcurl's defaults; the connection cache survives the reset.
  curl_easy_reset(easy_.get());
  return easy_.get();
}

PellowNetResult CurlTransport::perform(const PellowNetRequest& request,
                                       const PellowNetResponseSink& sink) {
  // The address is checked in full before libcurl is started or any connection is made.
  const std::optional<ParsedURL> url = allowedURL(request, webHost_, apiHost_);
  if (!url) return PELLOW_NET_INVALID_ADDRESS;
  CURL* const easy = freshHandle();
  if (easy == nullptr) return PELLOW_NET_UNREACHABLE;

  // libcurl keeps pointers to these until the transfer ends.
  Exchange exchange;
  exchange.sink = &sink;
  const Slist headers = headerList(request);
  bool ok = setTransferOptions(easy, *url, request.timeout_ms, headers.get(), exchange) &&
            setMethod(easy, view(request.method), view(request.body));
#ifdef PELLOW_TEST_SEAMS
  const Slist connectTo = testConnectTo(testConnectTo_);
  ok = ok && setTestSeams(easy, connectTo, testCAInfo_);
#endif
  // The handle outlives this request: whatever way this function ends, drop the options that
  // point into its frame. Declared last, so it runs before those objects go.
  const ResetOnExit resetOnExit{easy};
  if (!ok) return PELLOW_NET_UNREACHABLE;

  const PellowNetResult transferred = transfer(easy, exchange);
  if (transferred != PELLOW_NET_OK) return transferred;
  return deliver(easy, *url, exchange, sink);
}

}  // namespace pellow::net
