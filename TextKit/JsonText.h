// The rules of JSON text that both helpers keep around their JSON library, whichever reader or
// writer they use:
//
// - nlohmann's reader takes a NUL byte for the end of the text and ignores whatever follows it,
//   so "{}\0garbage" would read as "{}". A NUL can never stand in JSON text (a string must escape
//   control characters), so every reader refuses a text that holds one.
// - The answers are written with every "/" as "\/", the form of the platform writer that the
//   helpers' callers were written against.
//
//   if (textkit::holdsNul(text)) refuse();
//   std::string answer = textkit::escapingSlashes(value.dump());
//
// Pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace textkit {

// Whether `text` holds a NUL byte anywhere.
bool holdsNul(std::string_view text);

// The compact JSON text `json` with every "/" written as "\/". Exact for any JSON text: a "/"
// can only stand inside a string, where "\/" means the same.
std::string escapingSlashes(std::string_view json);

}  // namespace textkit
