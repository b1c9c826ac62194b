#include "TextKit/JsonText.h"

namespace textkit {

bool holdsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

std::string escapingSlashes(std::string_view json) {
  std::string out;
  // A few slashes are usual (URLs, paths): room for them without a second allocation.
  out.reserve(json.size() + json.size() / 8 + 16);
  for (const char c : json) {
    if (c == '/') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace textkit
