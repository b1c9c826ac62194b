#include "github-helper/CredentialRequest.h"

#include <cstdint>

#include "PellowGitHub/GitHubConfig.h"
#include "PellowGitHub/RepositoryReference.h"

namespace pellow {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct Continuation {
  std::uint8_t low;
  std::uint8_t high;
};

bool isArrayAttribute(std::string_view key) { return key.ends_with("[]"); }

}  // namespace

std::string decodeUTF8WithReplacement(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(bytes[i]);
      ++i;
      continue;
    }
    // The allowed range of the second byte depends on the lead (no overlong forms, no
    // surrogates, nothing above U+10FFFF); later bytes are plain continuation bytes.
    std::size_t length = 0;
    Continuation second{0x80, 0xBF};
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead == 0xE0) {
      length = 3, second = {0xA0, 0xBF};
    } else if (lead == 0xED) {
      length = 3, second = {0x80, 0x9F};
    } else if (lead >= 0xE1 && lead <= 0xEF) {
      length = 3;
    } else if (lead == 0xF0) {
      length = 4, second = {0x90, 0xBF};
    } else if (lead == 0xF4) {
      length = 4, second = {0x80, 0x8F};
    } else if (lead >= 0xF1 && lead <= 0xF3) {
      length = 4;
    }
    if (length == 0) {
      out += kReplacementCharacter;
      ++i;
      continue;
    }
    std::size_t valid = 1;
    while (valid < length && i + valid < bytes.size()) {
      const auto byte = static_cast<std::uint8_t>(bytes[i + valid]);
      const Continuation range = valid == 1 ? second : Continuation{0x80, 0xBF};
      if (byte < range.low || byte > range.high) break;
      ++valid;
    }
    if (valid == length) {
      out.append(bytes.substr(i, length));
    } else {
      // The maximal subpart becomes one replacement; the byte that broke it starts afresh.
      out += kReplacementCharacter;
    }
    i += valid;
  }
  return out;
}

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
