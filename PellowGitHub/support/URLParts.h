// URLParts: the pieces of an absolute URL, as libcurl's URL parser reads it.
//
//   std::optional<URLParts> parts = parseURLParts("https://github.com/octo/notes.git");
//   if (parts && parts->host == "github.com" && !parts->port) ...
//
// Parsing uses the network module, which it loads on first use (net/NetModule.h), but it never
// starts libcurl's network side. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellow {

struct URLParts {
  std::optional<std::string> scheme{};    // always present, lower case
  std::optional<std::string> user{};      // present when written, even empty ("https://@host")
  std::optional<std::string> password{};  // present when written, even empty
  std::optional<std::string> host{};      // percent-escapes decoded
  std::optional<std::string> port{};      // only when a port number is written
  std::optional<std::string> path{};      // always present (maybe empty), exactly as written
  std::optional<std::string> query{};     // present, maybe empty, when the text has a "?"
  std::optional<std::string> fragment{};  // present, maybe empty, when the text has a "#"
};

// The parts of `text` when it is an absolute "scheme://authority..." URL; nothing for anything
// else, including texts with spaces or control characters, or without "//" after the scheme.
// Throws std::runtime_error when the network module cannot be loaded.
std::optional<URLParts> parseURLParts(std::string_view text);

}  // namespace pellow
