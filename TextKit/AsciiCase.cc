#include "TextKit/AsciiCase.h"

#include <algorithm>

namespace textkit {

std::string lowercasedASCII(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerASCII(c);
  return out;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return lowerASCII(x) == lowerASCII(y); });
}

}  // namespace textkit
