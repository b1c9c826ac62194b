// JSON text as every suite reader takes it: exactly one value with nothing but white space around
// it. The consent file, the bundle manifest and Info.json are all read through here.
//
//   std::string problem;
//   const nlohmann::json value = veltra::parseJsonText(bytes, &problem);
//   if (value.is_discarded()) ...;                    // problem says why
//
//   ManifestHandler handler;                          // a nlohmann::json_sax<nlohmann::json>
//   if (!veltra::parseJsonFile(fd, kLimit, handler)) ...;   // streamed, never held whole
//
// nlohmann's reader takes a NUL byte for the end of the text and ignores whatever follows it, so
// "{}\0garbage" would read as "{}". A NUL can never stand in JSON text (a string must escape
// control characters), so text holding one is refused here, as bytes after the top-level value
// are. Internal to the library; thread-safe (no state).
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace veltra {

using JsonSax = nlohmann::json_sax<nlohmann::json>;

// The value of `text`, or a discarded value when `text` is not exactly one JSON value (a NUL byte
// anywhere, bytes after the value, invalid UTF-8, a syntax error). Any top-level value is
// accepted; callers judge its kind. When given, `problem` receives the reason of a refusal.
nlohmann::json parseJsonText(std::string_view text, std::string* problem = nullptr);

// Feeds `text` to `sax` under the same rules. False when the text is refused or `sax` stopped.
bool parseJsonText(std::string_view text, JsonSax& sax);

// Feeds the bytes of the open file `fd`, from its current offset to its end, to `sax` in pieces
// of fixed size. False when the text is refused, longer than `limit` bytes, cannot be read, or
// `sax` stopped.
bool parseJsonFile(int fd, std::size_t limit, JsonSax& sax);

}  // namespace veltra
