#include "PellowGitHub/GitHubTransport.h"

#include "TextKit/AsciiCase.h"

namespace pellow {

std::optional<std::string_view> HTTPResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (textkit::equalsIgnoringASCIICase(key, name)) return std::string_view(value);
  }
  return std::nullopt;
}

}  // namespace pellow
