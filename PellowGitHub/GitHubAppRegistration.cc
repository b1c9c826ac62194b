#include "PellowGitHub/GitHubAppRegistration.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/UTF8.h"
#include "PellowGitHub/support/UnicodeText.h"
#include "TextKit/PercentEncoding.h"

namespace pellow {
namespace {

constexpr std::size_t kMaximumLength = 100;

// The scalars of strict UTF-8 text (no surrogates, no overlong forms), or nothing when the text
// is not valid UTF-8.
std::optional<std::vector<char32_t>> scalars(std::string_view text) {
  std::vector<char32_t> result;
  while (!text.empty()) {
    const std::optional<UTF8Scalar> scalar = decodeUTF8Scalar(text);
    if (!scalar) return std::nullopt;
    result.push_back(scalar->value);
    text.remove_prefix(scalar->length);
  }
  return result;
}

bool isASCIIAlphanumeric(char32_t c) {
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9');
}

bool isAllowed(char32_t c) {
  if (c == U'-' || c == U'_' || c == U'.') return true;
  if (c < 0x80) return isASCIIAlphanumeric(c);
  return isAlphanumeric(c);
}

// The length and character rules shared by both fields. The order of the checks does not show
// (every failure gives the same message), so the character check runs first: for ASCII text
// that passes it, one byte is one user-perceived character and the Unicode tables, which live
// in the network module, are not needed at all.
bool isValidField(std::string_view text) {
  if (text.empty()) return false;
  const auto decoded = scalars(text);
  if (!decoded) return false;
  bool ascii = true;
  for (char32_t c : *decoded) {
    if (!isAllowed(c)) return false;
    ascii = ascii && c < 0x80;
  }
  const std::size_t length = ascii ? text.size() : graphemeCount(text);
  return length <= kMaximumLength;
}

}  // namespace

GitHubAppRegistration::GitHubAppRegistration(std::string clientID, std::string slug)
    : clientID_(std::move(clientID)), slug_(std::move(slug)) {
  if (!isValidField(clientID_) || !isValidField(slug_) || slug_ == "." || slug_ == "..") {
    throw PellowError(GitHubFailure::registrationNotConfigured);
  }
}

const GitHubAppRegistration& GitHubAppRegistration::builtIn() {
  // These values pass validation; a failure here is a programming error and ends the process.
  static const GitHubAppRegistration registration("Tk5wNq0rZb8xLm3cPa7e", "pellow-notes-sync");
  return registration;
}

std::string GitHubAppRegistration::installationURL() const {
  std::string url(config::webBaseURL());
  url += "/apps/";
  // Validation left only letters, marks, numbers and "-" "_" "." in the slug: its ASCII bytes
  // need no encoding, the bytes of other letters do.
  url += textkit::percentEncode(slug_, [](unsigned char c, std::size_t) { return c < 0x80; });
  url += "/installations/new";
  return url;
}

}  // namespace pellow
