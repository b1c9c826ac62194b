#include "PellowGitHub/store/CredentialLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "PellowGitHub/GitHubDate.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/store/ApplicationSupport.h"
#include "PellowGitHub/support/Cancellation.h"

namespace pellow {
namespace {

constexpr double kWaitLimitSeconds = 10.0;
constexpr double kRetryIntervalSeconds = 0.1;

// Creates `folder` and every missing parent with mode 0700. An existing folder is left as it is;
// whether it is private enough is checked afterwards with lstat.
void createPrivateFolder(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const auto& component : folder) {
    partial /= component;
    if (::mkdir(partial.c_str(), 0700) == 0 || errno == EEXIST) continue;
    throw std::filesystem::filesystem_error("cannot create folder", partial,
                                            std::error_code(errno, std::generic_category()));
  }
}

bool isPrivate(const struct stat& info, mode_t kind) {
  return (info.st_mode & S_IFMT) == kind && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

CredentialLockHold CredentialLock::acquire(const std::stop_token& stop) const {
  const std::filesystem::path folder = folder_ ? *folder_ : pellowGitHubDirectory();
  createPrivateFolder(folder);

  struct stat folderInfo {};
  if (::lstat(folder.c_str(), &folderInfo) != 0 || !isPrivate(folderInfo, S_IFDIR)) {
    throw PellowError(std::string(kLockNotPrivateMessage));
  }

  const std::filesystem::path file = folder / "credential.lock";
  // Not O_CLOEXEC: the descriptor lives only for this call and the helper starts no programs.
  Descriptor descriptor(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600));
  if (descriptor.get() < 0) throw PellowError(std::string(kLockBusyMessage));

  struct stat fileInfo {};
  if (::fstat(descriptor.get(), &fileInfo) != 0 || !isPrivate(fileInfo, S_IFREG)) {
    throw PellowError(std::string(kLockBusyMessage));
  }

  // The deadline is on the wall clock, the pauses between tries on the continuous clock.
  const Date deadline = clock_->now() + kWaitLimitSeconds;
  while (::flock(descriptor.get(), LOCK_EX | LOCK_NB) != 0) {
    if (!(clock_->now() < deadline)) throw PellowError(std::string(kLockTimeoutMessage));
    clock_->sleep(kRetryIntervalSeconds, stop);
    throwIfCancelled(stop);
  }
  return CredentialLockHold(descriptor.release());
}

CredentialLockHold::~CredentialLockHold() {
  if (descriptor_ < 0) return;
  ::flock(descriptor_, LOCK_UN);
  ::close(descriptor_);
}

}  // namespace pellow
