#include "PellowGitHub/support/UTF8.h"

#include <cstdint>

namespace pellow {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// What the bytes at the start of a non-empty text hold: a well-formed sequence of `length`
// bytes, or (when `wellFormed` is false) a maximal ill-formed subpart of `length` bytes.
struct Sequence {
  char32_t value;
  std::size_t length;
  bool wellFormed;
};

Sequence scan(std::string_view text) noexcept {
  const auto lead = static_cast<std::uint8_t>(text[0]);
  if (lead < 0x80) return {lead, 1, true};
  // The allowed range of the second byte depends on the lead (this excludes overlong forms,
  // surrogates and values above U+10FFFF); later bytes are plain continuation bytes.
  std::size_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 1, false};
  }
  std::size_t valid = 1;
  while (valid < length && valid < text.size()) {
    const auto byte = static_cast<std::uint8_t>(text[valid]);
    if (byte < (valid == 1 ? low : 0x80) || byte > (valid == 1 ? high : 0xBF)) break;
    value = (value << 6) | (byte & 0x3Fu);
    ++valid;
  }
  return {value, valid, valid == length};
}

}  // namespace

std::optional<UTF8Scalar> decodeUTF8Scalar(std::string_view text) noexcept {
  if (text.empty()) return std::nullopt;
  const Sequence sequence = scan(text);
  if (!sequence.wellFormed) return std::nullopt;
  return UTF8Scalar{sequence.value, sequence.length};
}

bool isValidUTF8(std::string_view text) noexcept {
  while (!text.empty()) {
    const Sequence sequence = scan(text);
    if (!sequence.wellFormed) return false;
    text.remove_prefix(sequence.length);
  }
  return true;
}

std::string decodeUTF8WithReplacement(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const Sequence sequence = scan(bytes);
    if (sequence.wellFormed) {
      out.append(bytes.substr(0, sequence.length));
    } else {
      // The maximal subpart becomes one replacement; the byte that broke it starts afresh.
      out += kReplacementCharacter;
    }
    bytes.remove_prefix(sequence.length);
  }
  return out;
}

}  // namespace pellow
