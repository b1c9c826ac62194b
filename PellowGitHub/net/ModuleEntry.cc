// The module's one exported symbol and the C functions of its table. Every function here is a
// thin, non-throwing bridge to the C++ code of the module.
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/net/CurlTransport.h"
#include "PellowGitHub/net/NetModuleABI.h"
#include "PellowGitHub/net/URLParser.h"
#include "PellowGitHub/net/UnicodeICU.h"

static_assert(std::string_view(PELLOW_NET_ENTRY_SYMBOL) == "pellow_net_module_v1");

namespace pellow::net {
namespace {

std::string owned(PellowNetString s) {
  return s.data == nullptr ? std::string() : std::string(s.data, s.size);
}

PellowNetString optionalPart(const std::optional<std::string>& part) {
  if (!part) return PellowNetString{nullptr, 0};
  return PellowNetString{part->data(), part->size()};
}

void* transportCreate(PellowNetString webHost, PellowNetString apiHost,
                      PellowNetString testConnectTo, PellowNetString testCAInfo) {
  try {
    return new CurlTransport(owned(webHost), owned(apiHost), owned(testConnectTo),
                             owned(testCAInfo));
  } catch (...) {
    return nullptr;
  }
}

void transportDestroy(void* transport) { delete static_cast<CurlTransport*>(transport); }

PellowNetResult transportSend(void* transport, const PellowNetRequest* request,
                              const PellowNetResponseSink* sink) {
  if (transport == nullptr || request == nullptr || sink == nullptr) {
    return PELLOW_NET_UNREACHABLE;
  }
  return static_cast<CurlTransport*>(transport)->send(*request, *sink);
}

int parseURLText(PellowNetString text, void* context,
                 void (*partsOut)(void* context, const PellowNetURLParts* parts)) {
  try {
    const std::string_view written =
        text.data == nullptr ? std::string_view() : std::string_view(text.data, text.size);
    const std::optional<ParsedURL> url = parseURL(written);
    if (!url) return 1;
    const PellowNetURLParts parts{
        .scheme = PellowNetString{url->scheme.data(), url->scheme.size()},
        .user = optionalPart(url->user),
        .password = optionalPart(url->password),
        .host = optionalPart(url->host),
        .port = optionalPart(url->port),
        .path = PellowNetString{url->path.data(), url->path.size()},
        .query = optionalPart(url->query),
        .fragment = optionalPart(url->fragment),
    };
    if (partsOut != nullptr) partsOut(context, &parts);
    return 0;
  } catch (...) {
    return 1;
  }
}

int isAlphanumericCodePoint(uint32_t codePoint) { return isAlphanumeric(codePoint) ? 1 : 0; }

size_t countGraphemes(PellowNetString utf8) { return graphemeCount(utf8.data, utf8.size); }

size_t formatTime(double secondsSince1970, char* out, size_t capacity) {
  return formatShortTime(secondsSince1970, out, capacity);
}

constexpr PellowNetModule kModule{
    .abi_version = PELLOW_NET_ABI_VERSION,
    .transport_create = transportCreate,
    .transport_destroy = transportDestroy,
    .transport_send = transportSend,
    .parse_url = parseURLText,
    .is_alphanumeric = isAlphanumericCodePoint,
    .grapheme_count = countGraphemes,
    .format_short_time = formatTime,
};

}  // namespace
}  // namespace pellow::net

extern "C" __attribute__((visibility("default"))) const PellowNetModule* pellow_net_module_v1() {
  return &pellow::net::kModule;
}
