// The items of the installation and repository listings, made from GitHub's objects.
//
//   if (auto item = repositoryItem(object)) items.push_back(*item);
//
// An object that does not meet an item's rules yields nothing and is skipped by the listing.
#pragma once

#include <optional>

#include <nlohmann/json.hpp>

namespace pellow {

// {"id", "login"} from an installation object: "id" an integer of at least 1, "account" an
// object with a string "login".
std::optional<nlohmann::json> installationItem(const nlohmann::json& installation);

// {"defaultBranch", "private", "slug"} from a repository object: nothing when "archived" or
// "disabled" is the boolean true; otherwise "full_name" must be a string accepted as a
// repository reference (kept as GitHub wrote it), "default_branch" a string, "private" a
// boolean. Push permission is not looked at.
std::optional<nlohmann::json> repositoryItem(const nlohmann::json& repository);

}  // namespace pellow
