// Percent-encoding, the one encoder and decoder of both helpers: a byte that a format does not
// keep is written as "%" and two upper-case hex digits. Each format names the bytes it keeps (an
// OAuth form keeps RFC 3986's unreserved characters, a keychain item header "!" .. "~" but "%").
//
//   bool keepsLetters(unsigned char c, std::size_t) { return c >= 'a' && c <= 'z'; }
//   std::string text = textkit::percentEncode("ab c/é", keepsLetters);  // "ab%20c%2F%C3%A9"
//   textkit::percentDecode("ab%20c", textkit::HexDigits::upper)        // "ab c"
//
// Pure and thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "TextKit/Hex.h"

namespace textkit {

// Whether byte `c`, found at byte offset `index` of the text, is written as it is.
using KeepsByte = bool (*)(unsigned char c, std::size_t index);

// `text` with every byte that `keeps` refuses written as "%XX" (upper-case hex digits).
std::string percentEncode(std::string_view text, KeepsByte keeps);

// `text` with every "%XX" replaced by its byte. Nothing when a "%" is not followed by two digits
// that `accepted` allows, or, when `literal` is given, when a byte outside an escape is one that
// `literal` refuses (`index` is its offset in `text`). Without `literal` any byte may stand as is.
std::optional<std::string> percentDecode(std::string_view text, HexDigits accepted,
                                         KeepsByte literal = nullptr);

}  // namespace textkit
