// ASCII letter case, the only case the helpers ever fold: header names, URL schemes and hosts,
// repository slugs and the user code. Bytes outside A-Z are left as they are, so UTF-8 text
// passes through untouched and no locale is consulted.
//
//   textkit::lowercasedASCII("GitHub.COM/é")          // "github.com/é"
//   textkit::equalsIgnoringASCIICase("ETag", "etag")  // true
//
// Pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace textkit {

// `c` in lower case when it is A-Z, else `c` itself.
constexpr char lowerASCII(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with every A-Z byte in lower case.
std::string lowercasedASCII(std::string_view text);

// Whether `a` and `b` have the same length and the same bytes once A-Z are folded to a-z.
bool equalsIgnoringASCIICase(std::string_view a, std::string_view b);

}  // namespace textkit
