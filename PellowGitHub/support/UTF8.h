// Strict UTF-8 decoding: no overlong forms, no surrogates, nothing above U+10FFFF.
//
//   if (auto scalar = decodeUTF8Scalar(text)) {
//     use(scalar->value);
//     text.remove_prefix(scalar->length);
//   }
//   bool ok = isValidUTF8(bytes);
//   std::string text = decodeUTF8WithReplacement(bytes);   // "a\xFFb" -> "a\uFFFDb"
//
// All functions are pure and thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pellow {

struct UTF8Scalar {
  char32_t value;
  std::size_t length;  // bytes, 1 to 4
};

// The well-formed sequence at the start of `text`, or nothing when it is empty or starts with
// an ill-formed (overlong, surrogate, out of range, truncated) sequence.
std::optional<UTF8Scalar> decodeUTF8Scalar(std::string_view text) noexcept;

// Whether all of `text` is well-formed UTF-8 (the empty text is).
bool isValidUTF8(std::string_view text) noexcept;

// `bytes` as UTF-8, each maximal ill-formed subpart replaced by U+FFFD (the Unicode
// recommendation that the platform's decoders follow).
std::string decodeUTF8WithReplacement(std::string_view bytes);

}  // namespace pellow
