#include "PellowGitHub/support/UnicodeText.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

#include "PellowGitHub/net/NetModule.h"
#include "PellowGitHub/support/UTF8.h"

namespace pellow {
namespace {

bool isASCII(std::string_view text) {
  return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The code point that ends `text`: step back over at most three continuation bytes to its lead.
std::optional<UTF8Scalar> decodeLast(std::string_view text) {
  for (std::size_t back = 1; back <= std::min<std::size_t>(4, text.size()); ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;
    const std::optional<UTF8Scalar> decoded = decodeUTF8Scalar(text.substr(text.size() - back));
    if (decoded && decoded->length == back) return decoded;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

bool isWhiteSpaceOrNewline(char32_t c) noexcept {
  switch (c) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string_view trimWhiteSpaceAndNewlines(std::string_view text) noexcept {
  while (true) {
    const std::optional<UTF8Scalar> first = decodeUTF8Scalar(text);
    if (!first || !isWhiteSpaceOrNewline(first->value)) break;
    text.remove_prefix(first->length);
  }
  while (true) {
    const std::optional<UTF8Scalar> last = decodeLast(text);
    if (!last || !isWhiteSpaceOrNewline(last->value)) break;
    text.remove_suffix(last->length);
  }
  return text;
}

bool isAlphanumeric(char32_t c) {
  if (c < 0x80)
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9');
  if (c > 0x10FFFF) return false;
  return netModule().is_alphanumeric(static_cast<std::uint32_t>(c)) != 0;
}

std::size_t graphemeCount(std::string_view utf8) {
  if (isASCII(utf8)) {
    // In ASCII text every character is a cluster of its own except CR LF, which is one.
    std::size_t count = utf8.size();
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i) {
      if (utf8[i] == '\r' && utf8[i + 1] == '\n') --count;
    }
    return count;
  }
  const std::size_t count = netModule().grapheme_count(PellowNetString{utf8.data(), utf8.size()});
  if (count == std::numeric_limits<std::size_t>::max()) {
    throw std::runtime_error("cannot count the characters of the text");
  }
  return count;
}

}  // namespace pellow
