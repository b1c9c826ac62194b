// GitHubDesktop::credential: the one way to a usable access token.
#include <string>

#include "PellowGitHub/CredentialLock.h"
#include "PellowGitHub/GitHubAuthorization.h"
#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/PellowError.h"

namespace pellow {
namespace {

constexpr const char* kSignInMessage =
    "Sign in to the GitHub account connected to this notes folder in Settings \u2192 Git sync. "
    "Your notes remain saved locally.";

}  // namespace

GitHubCredential GitHubDesktop::credential(std::optional<std::int64_t> account) {
  // Load, check, renew and store under one hold of the lock: a second process waits and then
  // loads the renewed credential, so a refresh token is never spent twice.
  return withCredentialLock([&]() -> GitHubCredential {
    std::optional<GitHubCredential> stored = keychain.load();
    if (!stored) throw PellowError(kSignInMessage);
    if (account && stored->accountID != account) throw PellowError(kSignInMessage);
    const Date now = Date::now();
    if (!stored->needsRefresh(now)) return std::move(*stored);
    // A failed renewal leaves the stored item as it is; the message tells the user what to do.
    GitHubCredential renewed = GitHubAuthorization(*transport).refresh(*stored, now);
    keychain.save(renewed);
    return renewed;
  });
}

}  // namespace pellow
