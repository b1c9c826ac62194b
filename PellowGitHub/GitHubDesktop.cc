#include "PellowGitHub/GitHubDesktop.h"

#include <string>
#include <utility>

#include "PellowGitHub/GitHubAuthorization.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/GitHubAPI.h"
#include "PellowGitHub/api/RepositoryCheck.h"
#include "PellowGitHub/api/RepositoryReference.h"
#include "PellowGitHub/store/CredentialLock.h"
#include "PellowGitHub/support/DeferredSignals.h"

namespace pellow {

GitHubDesktop::GitHubDesktop(std::shared_ptr<GitHubTransport> transport, GitHubKeychain keychain,
                             Clock& clock)
    : transport_(std::move(transport)), keychain_(std::move(keychain)), clock_(&clock) {}

GitHubCredential GitHubDesktop::credential(std::optional<std::int64_t> account) {
  // Load, check, renew and store under one hold of the lock: a second process waits and then
  // loads the renewed credential, so a refresh token is never spent twice.
  return CredentialLock(*clock_, keychain_.lockFolder()).run([&]() -> GitHubCredential {
    std::optional<GitHubCredential> stored = keychain_.load();
    if (!stored) throw PellowError(GitHubFailure::signInRequired, {.detail = "nothing stored"});
    if (account && stored->accountID != account) {
      throw PellowError(GitHubFailure::signInRequired, {.detail = "stored for another account"});
    }
    const Date now = clock_->now();
    if (!stored->needsRefresh(now)) return std::move(*stored);
    // Once the request is out, GitHub may have spent the stored refresh token: a Ctrl-C to git's
    // group, a hang-up or a SIGTERM before the new credential is stored would leave only a dead
    // token behind. Such signals wait until the new one is stored (or the renewal failed), then
    // end the process as they would have.
    GitHubCredential renewed = [&] {
      DeferredSignals deferred;
      // A failed renewal leaves the stored item as it is; the message tells the user what to do.
      GitHubCredential fresh = GitHubAuthorization(*transport_, *clock_).refresh(*stored, now);
      keychain_.save(fresh);
      return fresh;
    }();
    return renewed;
  });
}

nlohmann::json GitHubDesktop::getJSON(std::string_view path, const GitHubCredential& credential) {
  return classifyAPIResponse(transport_->send(apiRequest(path, credential)));
}

CheckedRepository GitHubDesktop::checkRepository(std::string_view reference,
                                                 std::optional<GitHubCredential> given) {
  const std::string slug = repositorySlug(reference);
  const GitHubCredential credentialUsed = given ? std::move(*given) : credential(std::nullopt);
  const nlohmann::json object = getJSON("/repos/" + slug, credentialUsed);
  return checkedRepository(object, slug, credentialUsed);
}

void GitHubDesktop::save(const GitHubCredential& credential) {
  CredentialLock(*clock_, keychain_.lockFolder()).run([&] { keychain_.save(credential); });
}

void GitHubDesktop::disconnect() {
  CredentialLock(*clock_, keychain_.lockFolder()).run([&] { keychain_.deleteItem(); });
}

}  // namespace pellow
