// Percent-encoding, the library's one encoder: every byte that the caller's set does not keep is
// written as "%" and two upper-case hex digits. Each format names the bytes it keeps (an OAuth
// form keeps RFC 3986's unreserved characters, a keychain item file name a few more rules).
//
//   bool keepsLetters(unsigned char c, std::size_t) { return c >= 'a' && c <= 'z'; }
//   std::string text = percentEncode("ab c/é", keepsLetters);   // "ab%20c%2F%C3%A9"
//
// Pure and thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pellow {

// Whether byte `c`, found at byte offset `index` of the text, is written as it is.
using KeepsByte = bool (*)(unsigned char c, std::size_t index);

// `text` with every byte that `keeps` refuses written as "%XX" (upper-case hex digits).
std::string percentEncode(std::string_view text, KeepsByte keeps);

}  // namespace pellow
