// The repository check: whether the repository the user entered can be the notes repository:
// the reference is well formed, the repository exists for the signed-in account, it is neither
// archived nor disabled, and the account may push to it.
//
//   CheckedRepository repo = desktop.checkRepository("octo/notes");   // stored credential
//   git.setRemote(repo.remote);   // "https://github.com/Octo/Notes.git"
//
// `GitHubDesktop::checkRepository(reference, credential)` runs, in this order:
//   1. repositorySlug(reference); a rejection fails before the keychain or network is touched;
//   2. without a given credential, desktop.credential(any account), renewed when due;
//   3. getJSON("/repos/" + slug) with its failures (access, moved, sign-in, rate limit, ...);
//   4. checkedRepository(object, slug, credential) below.
// It changes nothing on GitHub and stores nothing but a token renewed in step 2.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "PellowGitHub/CheckedRepository.h"
#include "PellowGitHub/GitHubCredential.h"

namespace pellow {

// Judges GitHub's repository object for the reference whose slug is `requestedSlug`:
// "id" (integer >= 1), "full_name" (string), "default_branch" (string) and "private" (boolean)
// must be there, else invalidRepositoryReference; "full_name" must be a reference whose slug
// equals `requestedSlug` ignoring ASCII case, else the same; then "archived" or "disabled" true
// fails with archivedRepository; then anything but "permissions" an object with "push" true
// fails with readOnlyRepository. Throws PellowError naming those GitHubFailures.
CheckedRepository checkedRepository(const nlohmann::json& object, std::string_view requestedSlug,
                                    const GitHubCredential& credential);

}  // namespace pellow
