#include "github-helper/CredentialRequest.h"

#include <cstdint>

#include "PellowGitHub/api/RepositoryReference.h"
#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow {
namespace {

bool isArrayAttribute(std::string_view key) { return key.ends_with("[]"); }

}  // namespace

std::optional<CredentialAttributes> parseCredentialAttributes(std::string_view text) {
  CredentialAttributes attributes;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty()) continue;

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    if (isArrayAttribute(key)) continue;
    if (!attributes.emplace(std::string(key), std::string(line.substr(equals + 1))).second) {
      return std::nullopt;
    }
  }
  return attributes;
}

bool isGitHubRequest(const CredentialAttributes& attributes) {
  if (attributes.empty()) return false;
  const auto protocol = attributes.find("protocol");
  if (protocol == attributes.end() || protocol->second != "https") return false;

  const auto host = attributes.find("host");
  if (host == attributes.end()) return false;
  // ASCII case folding only: a full Unicode lower-casing would let look-alikes such as the
  // Kelvin sign stand for "k" in a host name.
  std::string lowered = host->second;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lowered != config::webHost()) return false;

  const auto path = attributes.find("path");
  return path != attributes.end() && tryRepositorySlug(path->second).has_value();
}

bool containsLineBreakOrNUL(std::string_view token) {
  for (char c : token) {
    if (c == '\0' || (c >= '\n' && c <= '\r')) return true;
  }
  return token.find("\xC2\x85") != std::string_view::npos ||
         token.find("\xE2\x80\xA8") != std::string_view::npos ||
         token.find("\xE2\x80\xA9") != std::string_view::npos;
}

}  // namespace pellow
