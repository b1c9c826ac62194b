// The credential lock: serialises, across all github-helper processes of the user, every
// read-modify-write of the one stored GitHub credential (renewal, save, disconnect).
//
//   CredentialLock lock(desktop.clock());
//   GitHubCredential fresh = lock.run([&] { return renewAndStore(); });
//   withCredentialLock([&] { keychain.deleteItem(); });   // the same on the system clock
//
// The lock is an advisory flock(2) on "credential.lock" in the private folder "PellowGitHub" of
// the Application Support folder (pellowGitHubDirectory()). The folder is created on first use
// (0700, intermediate folders too); the file is created 0600, never read, written or deleted.
// Both modes are set after creation, whatever the umask (PrivateFiles/).
//
// run(body, stop):
//   - creates the folder if needed; a creation failure throws std::filesystem::filesystem_error;
//   - checks the folder with lstat: a directory (not a symbolic link) owned by the user with no
//     group or other permission bits, else PellowError lockNotPrivate;
//   - opens the file O_RDWR|O_NOFOLLOW|O_CLOEXEC, creating it 0600 when missing
//     (openPrivateFile), and checks it with fstat: a regular file owned by the user with no group
//     or other bits, else PellowError lockBusy;
//   - tries a non-blocking exclusive flock; while it fails and the clock's date is before a
//     deadline of 10 s after the first try, waits 0.1 s (the clock's sleep) and retries;
//     past the deadline throws PellowError lockTimeout;
//   - a stop requested on `stop` while waiting throws CancellationError;
//   - runs body() while holding the lock, then unlocks and closes the descriptor whatever body
//     did, and returns body's result or rethrows its exception unchanged.
// The descriptor is opened once per call and closed on every path out. flock belongs to the
// open file description, so two calls in one process exclude each other too (do not nest them:
// an inner call would wait for the outer one and time out). Blocks the calling thread while
// waiting.
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string_view>
#include <type_traits>
#include <utility>

#include "PellowGitHub/Clock.h"
#include "PrivateFiles/UniqueFd.h"

namespace pellow {

// The held lock: acquired by CredentialLock::acquire(), released (LOCK_UN, then close) by the
// destructor.
class CredentialLockHold {
 public:
  CredentialLockHold(CredentialLockHold&&) noexcept = default;
  CredentialLockHold& operator=(CredentialLockHold&&) = delete;
  CredentialLockHold(const CredentialLockHold&) = delete;

 private:
  friend class CredentialLock;
  // Takes the descriptor on which the caller holds the flock.
  explicit CredentialLockHold(privatefiles::UniqueFd descriptor);
  // Destroyed in reverse order: unlocked first, then closed.
  privatefiles::UniqueFd descriptor_;
  privatefiles::FlockHolder unlock_;
};

class CredentialLock {
 public:
  // Keeps a reference to `clock`, which must outlive the lock. The lock is in `folder`, or
  // without one in the Application Support folder's "PellowGitHub" (pellowGitHubDirectory(),
  // resolved at each acquire()); the store decides (GitHubKeychain::lockFolder()).
  explicit CredentialLock(Clock& clock = systemClock()) : clock_(&clock) {}
  CredentialLock(Clock& clock, std::filesystem::path folder)
      : clock_(&clock), folder_(std::move(folder)) {}

  // Everything run() does before its body; throws as described above.
  CredentialLockHold acquire(const std::stop_token& stop = {}) const;

  template <class Body>
  std::invoke_result_t<Body&> run(Body&& body, const std::stop_token& stop = {}) const {
    CredentialLockHold hold = acquire(stop);
    return body();
  }

 private:
  Clock* clock_;
  std::optional<std::filesystem::path> folder_;
};

// The lock on the system clock.
template <class Body>
std::invoke_result_t<Body&> withCredentialLock(Body&& body, const std::stop_token& stop = {}) {
  return CredentialLock().run(body, stop);
}

}  // namespace pellow
