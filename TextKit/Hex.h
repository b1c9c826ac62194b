// Hexadecimal digits, written and read. Each format fixes its letter case: the keychain item
// file writes upper case and reads only upper case, a bundle manifest writes and reads only lower
// case, a URL path is read in either. Reading therefore always names the digits it accepts.
//
//   textkit::hexEncoded("\x01\xAB", textkit::HexDigits::lower)   // "01ab"
//   textkit::hexDigitValue('b', textkit::HexDigits::upper)       // -1
//   textkit::hexDecoded("01ab", textkit::HexDigits::lower)       // "\x01\xAB"
//
// Pure and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace textkit {

// Which letters a format writes, or accepts when read: A-F, a-f, or both (reading only; writing
// with `either` writes upper case).
enum class HexDigits { upper, lower, either };

// The value 0-15 of the digit `c`, or -1 when `c` is not a digit that `accepted` allows.
int hexDigitValue(char c, HexDigits accepted);

// The two digits of `byte`, high first, in the case of `digits` (upper for `either`).
void appendHexByte(std::string& out, unsigned char byte, HexDigits digits);

// Every byte of `bytes` as two digits, high first.
std::string hexEncoded(std::string_view bytes, HexDigits digits);

// The bytes of `hex`, two digits each; nothing for an odd length or a digit `accepted` refuses.
std::optional<std::string> hexDecoded(std::string_view hex, HexDigits accepted);

}  // namespace textkit
