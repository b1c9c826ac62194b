// Repository references: tryRepositorySlug and repositorySlug must agree, and an accepted
// reference gives an owner/name that is itself accepted and maps to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/RepositoryReference.h"

namespace {

// Owners of managed users carry "_" (mona-cat_octo); names may also hold ".".
bool isOwnerCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

bool isNameCharacter(char c) { return isOwnerCharacter(c) || c == '.'; }

void checkSlugShape(std::string_view slug) {
  const auto slash = slug.find('/');
  if (slash == std::string_view::npos) std::abort();
  const std::string_view owner = slug.substr(0, slash);
  const std::string_view name = slug.substr(slash + 1);
  if (owner.empty() || owner.size() > 100 || name.empty() || name.size() > 100) std::abort();
  if (name == "." || name == "..") std::abort();
  for (char c : owner) {
    if (!isOwnerCharacter(c)) std::abort();
  }
  for (char c : name) {
    if (!isNameCharacter(c)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reference(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> slug = pellow::tryRepositorySlug(reference);

  std::optional<pellow::GitHubFailure> thrown;
  try {
    const std::string strict = pellow::repositorySlug(reference);
    if (!slug || strict != *slug) std::abort();
  } catch (const pellow::PellowError& error) {
    thrown = error.failure();
  }
  if (slug.has_value() == thrown.has_value()) std::abort();
  if (thrown && *thrown != pellow::GitHubFailure::invalidRepositoryReference) std::abort();

  if (slug) {
    checkSlugShape(*slug);
    // A slug ending in ".git" is a name of its own ("o/n.git" names "o/n"), so only the plain
    // form is required to map to itself.
    if (!slug->ends_with(".git")) {
      const auto again = pellow::tryRepositorySlug(*slug);
      if (!again || *again != *slug) std::abort();
    }
  }
  return 0;
}
