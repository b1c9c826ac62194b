// GitHubDesktop: the GitHub helper's client, built once per run. It holds the transport through
// which every HTTP exchange goes and the keychain that keeps the one stored credential, reads
// the time from one clock, and offers the operations the commands share.
//
//   GitHubDesktop desktop(std::make_shared<GitHubURLSessionTransport>(),
//                         GitHubKeychain("com.pemberhollo.pellow.github.v1",
//                                        makeDefaultKeychainBackend()));
//   GitHubCredential c = desktop.credential(42);   // fresh token, renewed under the lock
//   nlohmann::json repo = desktop.getJSON("/repos/octocat/hello", c);
//   CheckedRepository checked = desktop.checkRepository("octocat/hello");
//   desktop.save(signedIn);                         // every change of the stored credential
//   desktop.disconnect();                           //   goes through the lock
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PellowGitHub/CheckedRepository.h"
#include "PellowGitHub/Clock.h"
#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/GitHubTransport.h"

namespace pellow {

class GitHubDesktop {
 public:
  // Keeps `transport` and `keychain` (copies of the desktop share both) and a reference to
  // `clock`, which must outlive the desktop and its copies. `transport` must not be null.
  GitHubDesktop(std::shared_ptr<GitHubTransport> transport, GitHubKeychain keychain,
                Clock& clock = systemClock());

  // The transport every exchange goes through, and the keychain. Read the keychain freely
  // (load() takes no lock); change it only through save() and disconnect(), which take the
  // credential lock as every writer must.
  GitHubTransport& transport() const { return *transport_; }
  const GitHubKeychain& keychain() const { return keychain_; }

  // The run's clock: its date decides renewals and sign-in expiry, its waits pace the lock.
  Clock& clock() const { return *clock_; }

  // The stored credential of `account` (nullopt: whatever account is signed in), renewed first
  // when it expires within 60 seconds of clock().now(); the whole load-check-renew-store
  // sequence runs inside the credential lock. Throws PellowError (no credential, another
  // account, keychain, lock, renewal or network failures).
  GitHubCredential credential(std::optional<std::int64_t> account);

  // An authenticated GET of `path` on the GitHub API origin; returns the answer's JSON object.
  // Throws PellowError for classified failures, passes transport failures and the JSON reader's
  // error on unchanged.
  nlohmann::json getJSON(std::string_view path, const GitHubCredential& credential);

  // The repository check: whether the repository the user entered can be the notes repository
  // (well formed, exists for the account, neither archived nor disabled, writable). In order:
  //   1. the reference's slug owner/name; a rejection fails before the keychain or network is
  //      touched;
  //   2. without `credential`, credential(std::nullopt), renewed when due;
  //   3. getJSON("/repos/" + slug) with its failures (access, moved, sign-in, rate limit, ...);
  //   4. GitHub's repository object: "id", "full_name" (the same slug, letter case aside),
  //      "default_branch" and "private" must be there, else the invalid-reference message; then
  //      "archived" or "disabled" fails, then an account without push permission fails.
  // Changes nothing on GitHub and stores nothing but a token renewed in step 2. Throws
  // PellowError.
  CheckedRepository checkRepository(std::string_view reference,
                                    std::optional<GitHubCredential> credential = std::nullopt);

  // Stores `credential` (GitHubKeychain::save) inside the credential lock. Throws PellowError
  // (the lock's and the keychain's failures).
  void save(const GitHubCredential& credential);

  // Deletes the stored credential (GitHubKeychain::deleteItem) inside the credential lock;
  // deleting a missing item succeeds. Throws PellowError.
  void disconnect();

 private:
  std::shared_ptr<GitHubTransport> transport_;
  GitHubKeychain keychain_;
  Clock* clock_;
};

}  // namespace pellow
