// The Unicode and locale services of the network module, over ICU's C API (no ICU C++ object
// is shared with the module's own C++ runtime). None of them throws.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pellow::net {

// Whether the code point's general category is L*, M* or N*. False beyond U+10FFFF.
bool isAlphanumeric(std::uint32_t codePoint) noexcept;

// The number of extended grapheme clusters of UTF-8 text (ill-formed sequences count as U+FFFD).
// SIZE_MAX when ICU cannot do it (missing data, text over 2 GiB).
std::size_t graphemeCount(const char* utf8, std::size_t size) noexcept;

// The time of day in the short time style of the default locale and time zone, as UTF-8.
// Writes at most `capacity` bytes to `out` and returns the full length; SIZE_MAX on failure.
std::size_t formatShortTime(double secondsSince1970, char* out, std::size_t capacity) noexcept;

}  // namespace pellow::net
