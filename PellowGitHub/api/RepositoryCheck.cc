#include "PellowGitHub/api/RepositoryCheck.h"

#include <optional>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/RepositoryReference.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/Json.h"
#include "TextKit/AsciiCase.h"

namespace pellow {
namespace {

using json::field;
using json::isTrue;

[[noreturn]] void rejectReference() {
  throw PellowError(GitHubFailure::invalidRepositoryReference,
                    {.detail = "the answer is not the requested repository"});
}

}  // namespace

CheckedRepository checkedRepository(const nlohmann::json& object, std::string_view requestedSlug,
                                    const GitHubCredential& credential) {
  if (!object.is_object() || object.empty()) rejectReference();
  const auto id = object.find("id");
  const std::optional<std::int64_t> idValue =
      id == object.end() ? std::nullopt : json::integer(*id);
  const std::string* fullName = field<std::string>(object, "full_name");
  const std::string* defaultBranch = field<std::string>(object, "default_branch");
  const bool* isPrivate = field<bool>(object, "private");
  if (!idValue || *idValue < 1 || fullName == nullptr || defaultBranch == nullptr ||
      isPrivate == nullptr) {
    rejectReference();
  }

  const std::optional<std::string> returnedSlug = tryRepositorySlug(*fullName);
  // Slugs hold ASCII only, so ASCII case folding is the whole of "ignoring letter case".
  if (!returnedSlug || !textkit::equalsIgnoringASCIICase(*returnedSlug, requestedSlug)) {
    rejectReference();
  }

  if (isTrue(object, "archived") || isTrue(object, "disabled")) {
    throw PellowError(GitHubFailure::archivedRepository);
  }
  const auto permissions = object.find("permissions");
  if (permissions == object.end() || !permissions->is_object() || !isTrue(*permissions, "push")) {
    throw PellowError(GitHubFailure::readOnlyRepository);
  }

  CheckedRepository result;
  result.id = *idValue;
  result.slug = *fullName;
  result.defaultBranch = *defaultBranch;
  result.isPrivate = *isPrivate;
  result.remote = std::string(config::webBaseURL()) + "/" + *fullName + ".git";
  result.credential = credential;
  return result;
}

}  // namespace pellow
