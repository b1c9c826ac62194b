#include "PellowGitHub/GitHubTransport.h"

#include <algorithm>

namespace pellow {
namespace {

char lowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return lowerASCII(x) == lowerASCII(y); });
}

}  // namespace

std::optional<std::string_view> HTTPResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringASCIICase(key, name)) return std::string_view(value);
  }
  return std::nullopt;
}

}  // namespace pellow
