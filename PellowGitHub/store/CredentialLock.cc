#include "PellowGitHub/store/CredentialLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>

#include "PellowGitHub/GitHubDate.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/store/ApplicationSupport.h"
#include "PellowGitHub/support/Cancellation.h"
#include "PrivateFiles/PrivateCheck.h"
#include "PrivateFiles/PrivateFile.h"
#include "PrivateFiles/PrivateFolder.h"
#include "Session/Trace.h"

namespace pellow {
namespace {

using privatefiles::FileKind;
using privatefiles::UniqueFd;

constexpr double kWaitLimitSeconds = 10.0;
constexpr double kRetryIntervalSeconds = 0.1;

}  // namespace

CredentialLockHold CredentialLock::acquire(const std::stop_token& stop) const {
  const std::filesystem::path folder = folder_ ? *folder_ : pellowGitHubDirectory();
  // Made 0700 whatever the umask; an existing folder is judged below, never repaired.
  privatefiles::createPrivateFolders(folder);
  if (!privatefiles::isPrivateEntry(AT_FDCWD, folder.c_str(), FileKind::directory)) {
    throw PellowError(
        GitHubFailure::lockNotPrivate,
        {.path = folder.string(), .detail = "not a private folder (0700, the user's own)"});
  }

  const std::filesystem::path file = folder / "credential.lock";
  // Close-on-exec: an application that embeds the library may start a program while the lock is
  // held, and that program must not keep the lock after the application is gone.
  UniqueFd descriptor = privatefiles::openPrivateFile(AT_FDCWD, file.c_str(), O_RDWR | O_CLOEXEC);
  if (!descriptor) {
    throw PellowError(GitHubFailure::lockBusy,
                      {.path = file.string(), .detail = "cannot be opened", .systemError = errno});
  }

  struct stat fileInfo {};
  if (::fstat(descriptor.get(), &fileInfo) != 0 ||
      !privatefiles::isPrivate(fileInfo, FileKind::regularFile)) {
    throw PellowError(
        GitHubFailure::lockBusy,
        {.path = file.string(), .detail = "not a private file (0600, the user's own)"});
  }

  // The deadline is on the wall clock, the pauses between tries on the continuous clock.
  const Date deadline = clock_->now() + kWaitLimitSeconds;
  int tries = 0;
  while (::flock(descriptor.get(), LOCK_EX | LOCK_NB) != 0) {
    if (tries++ == 0) trace::line("lock", "waiting: another process holds " + file.string());
    if (!(clock_->now() < deadline)) {
      trace::line("lock", "gave up after " + std::to_string(kWaitLimitSeconds) + " s");
      throw PellowError(GitHubFailure::lockTimeout,
                        {.path = file.string(), .detail = "held by another process"});
    }
    clock_->sleep(kRetryIntervalSeconds, stop);
    throwIfCancelled(stop);
  }
  trace::line("lock", "holding " + file.string() +
                          (tries > 0 ? " after " + std::to_string(tries) + " tries" : ""));
  return CredentialLockHold(std::move(descriptor));
}

CredentialLockHold::CredentialLockHold(UniqueFd descriptor)
    : descriptor_(std::move(descriptor)), unlock_(descriptor_.get()) {}

}  // namespace pellow
