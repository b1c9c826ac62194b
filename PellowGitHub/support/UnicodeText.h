// Unicode character tests and counts on UTF-8 text, as the user sees characters.
//
//   std::string_view text = trimWhiteSpaceAndNewlines("  owner/name\n");  // "owner/name"
//   if (graphemeCount(name) > 100) ...
//   if (isAlphanumeric(U'é')) ...
//
// White-space trimming is built in (the Unicode White_Space set is fixed). The general-category
// test and the grapheme count of non-ASCII text come from ICU in the network module, which they
// load on first use (net/NetModule.h) and may therefore throw std::runtime_error; ASCII input never
// loads it. All functions are thread-safe.
#pragma once

#include <cstddef>
#include <string_view>

namespace pellow {

// Whether `c` is one of the 25 code points of the Unicode White_Space property: U+0009-U+000D,
// U+0020, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000. The
// same set as the platform's "white space and newline characters" (categories Z*, the C0
// controls U+0009-U+000D and U+0085).
bool isWhiteSpaceOrNewline(char32_t c) noexcept;

// `text` without the white space and newline characters at both ends. Trimming stops at any
// ill-formed UTF-8 sequence, which is kept. Returns a view into `text`.
std::string_view trimWhiteSpaceAndNewlines(std::string_view text) noexcept;

// Whether `c` has a general category L* (letters), M* (marks) or N* (numbers). False for values
// that are not code points. Loads the network module for non-ASCII `c`.
bool isAlphanumeric(char32_t c);

// The number of user-perceived characters (extended grapheme clusters) of UTF-8 text; an
// ill-formed sequence counts as U+FFFD would. Loads the network module for non-ASCII text.
// Throws std::runtime_error when the module cannot be loaded or count the text.
std::size_t graphemeCount(std::string_view utf8);

}  // namespace pellow
