#include "TextKit/PercentEncoding.h"

namespace textkit {

std::string percentEncode(std::string_view text, KeepsByte keeps) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (keeps(c, i)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      appendHexByte(out, c, HexDigits::upper);
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text, HexDigits accepted,
                                         KeepsByte literal) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '%') {
      if (literal != nullptr && !literal(static_cast<unsigned char>(c), i)) return std::nullopt;
      out.push_back(c);
      continue;
    }
    if (text.size() - i < 3) return std::nullopt;
    const int high = hexDigitValue(text[i + 1], accepted);
    const int low = hexDigitValue(text[i + 2], accepted);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

}  // namespace textkit
