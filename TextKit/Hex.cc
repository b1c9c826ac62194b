#include "TextKit/Hex.h"

namespace textkit {

int hexDigitValue(char c, HexDigits accepted) {
  if (c >= '0' && c <= '9') return c - '0';
  if (accepted != HexDigits::upper && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (accepted != HexDigits::lower && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendHexByte(std::string& out, unsigned char byte, HexDigits digits) {
  const char* alphabet = digits == HexDigits::lower ? "0123456789abcdef" : "0123456789ABCDEF";
  out.push_back(alphabet[byte >> 4]);
  out.push_back(alphabet[byte & 0x0F]);
}

std::string hexEncoded(std::string_view bytes, HexDigits digits) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) appendHexByte(out, static_cast<unsigned char>(c), digits);
  return out;
}

std::optional<std::string> hexDecoded(std::string_view hex, HexDigits accepted) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigitValue(hex[i], accepted);
    const int low = hexDigitValue(hex[i + 1], accepted);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high << 4 | low));
  }
  return out;
}

}  // namespace textkit
