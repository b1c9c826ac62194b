#include "PellowGitHub/api/RepositoryReference.h"

#include <cstddef>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/URLParts.h"
#include "PellowGitHub/support/UnicodeText.h"
#include "TextKit/AsciiCase.h"
#include "TextKit/PercentEncoding.h"

namespace pellow {
namespace {

constexpr std::size_t kMaxPartLength = 100;

bool isASCIILetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The path of an https address on the GitHub web host, without its leading "/", or nothing when
// the text is any other kind of address.
std::optional<std::string> webAddressPath(std::string_view text) {
  // libcurl reports the scheme in lower case; only the exact "https" is accepted, so look at
  // the text itself as well.
  if (text.substr(0, text.find(':')) != "https") return std::nullopt;
  // libcurl drops an empty query or fragment, yet a text ending in "?" or "#" is an address with
  // one. Any "?" or "#" ends the authority and path of an https URL, so its presence alone means
  // a query or fragment is there.
  if (text.find_first_of("?#") != std::string_view::npos) return std::nullopt;

  const std::optional<URLParts> parts = parseURLParts(text);
  if (!parts) return std::nullopt;
  if (parts->scheme != "https") return std::nullopt;
  if (!parts->host || textkit::lowercasedASCII(*parts->host) != config::webHost())
    return std::nullopt;
  if (parts->user || parts->password || parts->port || parts->query || parts->fragment) {
    return std::nullopt;
  }
  // Every %XX decoded, in either case; a "%" not followed by two hex digits makes the path
  // unreadable, as it does for the URL parsers that refuse such a text outright.
  std::optional<std::string> path =
      textkit::percentDecode(parts->path.value_or(""), textkit::HexDigits::either);
  if (!path) return std::nullopt;
  if (!path->empty()) path->erase(0, 1);
  return path;
}

// "_" is allowed because GitHub names Enterprise Managed Users handle + "_" + the enterprise's
// short code ("mona-cat_octo"); refusing it would lock those users out of their own
// repositories in the check, the listing and git's credential requests alike.
bool validOwner(std::string_view owner) {
  if (owner.empty() || owner.size() > kMaxPartLength) return false;
  for (char c : owner) {
    if (!isASCIILetterOrDigit(c) && c != '-' && c != '_') return false;
  }
  return true;
}

bool validName(std::string_view name) {
  if (name.empty() || name.size() > kMaxPartLength) return false;
  for (char c : name) {
    if (!isASCIILetterOrDigit(c) && c != '.' && c != '_' && c != '-') return false;
  }
  return name != "." && name != "..";
}

}  // namespace

std::optional<std::string> tryRepositorySlug(std::string_view reference) {
  std::string text(trimWhiteSpaceAndNewlines(reference));

  const std::string sshPrefix = "git@" + std::string(config::webHost()) + ":";
  if (text.starts_with(sshPrefix)) text.erase(0, sshPrefix.size());

  if (text.find("://") != std::string::npos) {
    std::optional<std::string> path = webAddressPath(text);
    if (!path) return std::nullopt;
    text = std::move(*path);
  }

  if (text.ends_with('/')) text.pop_back();
  if (text.ends_with(".git")) text.resize(text.size() - 4);

  // Exactly two pieces, empty ones included: one "/" and no other.
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos || text.find('/', slash + 1) != std::string::npos) {
    return std::nullopt;
  }
  const std::string_view owner = std::string_view(text).substr(0, slash);
  const std::string_view name = std::string_view(text).substr(slash + 1);
  // Only ASCII is allowed, so the byte count of an accepted part is its character count.
  if (!validOwner(owner) || !validName(name)) return std::nullopt;
  return text;
}

std::string repositorySlug(std::string_view reference) {
  std::optional<std::string> slug = tryRepositorySlug(reference);
  if (!slug) throw PellowError(GitHubFailure::invalidRepositoryReference);
  return std::move(*slug);
}

}  // namespace pellow
