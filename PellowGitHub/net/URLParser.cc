#include "PellowGitHub/net/URLParser.h"

#include <cstddef>
#include <new>

#include "TextKit/AsciiCase.h"

namespace pellow::net {
namespace {

struct CurlStringDeleter {
  void operator()(char* text) const noexcept { curl_free(text); }
};

std::optional<std::string> part(CURLU* url, CURLUPart which) {
  char* raw = nullptr;
  if (curl_url_get(url, which, &raw, 0) != CURLUE_OK || raw == nullptr) return std::nullopt;
  const std::unique_ptr<char, CurlStringDeleter> owned(raw);
  return std::string(raw);
}

}  // namespace

std::optional<ParsedURL> parseURL(std::string_view text) {
  // libcurl takes a C string: an embedded NUL would silently cut the text short.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  // libcurl also accepts "https:/host" and "https:host"-like shapes that no other reader of the
  // text would take for the same address; require the authority to be introduced by "//".
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || text.substr(colon + 1, 2) != "//") return std::nullopt;

  ParsedURL parsed;
  parsed.handle.reset(curl_url());
  if (!parsed.handle) throw std::bad_alloc();
  const std::string terminated(text);
  if (curl_url_set(parsed.handle.get(), CURLUPART_URL, terminated.c_str(),
                   CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  CURLU* url = parsed.handle.get();
  std::optional<std::string> scheme = part(url, CURLUPART_SCHEME);
  std::optional<std::string> normalized = part(url, CURLUPART_URL);
  if (!scheme || !normalized) return std::nullopt;
  parsed.writtenScheme = std::string(text.substr(0, colon));
  if (!textkit::equalsIgnoringASCIICase(parsed.writtenScheme, *scheme)) return std::nullopt;
  parsed.scheme = std::move(*scheme);
  parsed.normalized = std::move(*normalized);
  parsed.user = part(url, CURLUPART_USER);
  parsed.password = part(url, CURLUPART_PASSWORD);
  parsed.host = part(url, CURLUPART_HOST);
  parsed.port = part(url, CURLUPART_PORT);

  // libcurl accepted the text, so its first "/", "?" or "#" after the "//" ends the authority,
  // the first "?" or "#" ends the path, and the first "#" starts the fragment.
  std::string_view rest = text.substr(colon + 3);
  const std::size_t fragmentStart = rest.find('#');
  if (fragmentStart != std::string_view::npos) {
    parsed.fragment = std::string(rest.substr(fragmentStart + 1));
    rest = rest.substr(0, fragmentStart);
  }
  const std::size_t queryStart = rest.find('?');
  if (queryStart != std::string_view::npos) {
    parsed.query = std::string(rest.substr(queryStart + 1));
    rest = rest.substr(0, queryStart);
  }
  const std::size_t pathStart = rest.find('/');
  if (pathStart != std::string_view::npos) parsed.path = std::string(rest.substr(pathStart));
  return parsed;
}

}  // namespace pellow::net
