// URL parsing inside the network module, over libcurl's URL API.
//
// libcurl's parser decides whether a text is an absolute URL and reads its authority (user,
// password, host, port); the scheme, path, query and fragment are then taken from the text as
// written, because libcurl normalises them (lower-cases the scheme, removes dot segments, drops
// an empty fragment) and callers must see what the user or the server wrote.
//
//   std::optional<ParsedURL> url = parseURL("https://api.github.com/user");
//   if (url && url->host == "api.github.com") {
//     curl_easy_setopt(easy, CURLOPT_CURLU, url->handle.get());
//   }
//
// The URL API needs no curl_global_init, so parsing never starts libcurl's network side.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pellow::net {

struct URLHandleDeleter {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
using URLHandle = std::unique_ptr<CURLU, URLHandleDeleter>;

struct ParsedURL {
  URLHandle handle;           // libcurl's parse, for CURLOPT_CURLU
  std::string scheme;         // lower case, as libcurl reports it
  std::string writtenScheme;  // as written in the text
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> host;
  std::optional<std::string> port;      // only when written explicitly
  std::string path;                     // as written: not decoded, dot segments kept; may be empty
  std::optional<std::string> query;     // present (maybe empty) when the text has a "?"
  std::optional<std::string> fragment;  // present (maybe empty) when the text has a "#"
  std::string normalized;  // libcurl's form of the whole URL, as it reports the effective URL
};

// Parses `text` as an absolute hierarchical URL ("scheme://authority/path?query#fragment", any
// scheme). Returns nothing for anything else: no scheme, no "//" after it, characters libcurl
// refuses (spaces, control characters, NUL), or a bad authority. Throws std::bad_alloc only.
std::optional<ParsedURL> parseURL(std::string_view text);

}  // namespace pellow::net
