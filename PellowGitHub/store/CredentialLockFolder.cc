#include "PellowGitHub/store/CredentialLockFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/store/ApplicationSupport.h"
#include "PrivateFiles/PrivateCheck.h"

namespace pellow {
namespace {

constexpr const char* kFolderName = "PellowGitHub";

std::filesystem::path passwordDatabaseHome() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  throw std::runtime_error("no home folder");
}

}  // namespace

std::filesystem::path fileStoreLockFolder() { return pellowGitHubDirectory(); }

std::filesystem::path keyringLockFolder(const std::filesystem::path& runtimeFolder,
                                        const std::function<std::filesystem::path()>& home) {
  // A runtime folder that another account owns or can write could be moved under the lock
  // while a renewal holds it.
  if (privatefiles::isPrivateEntry(AT_FDCWD, runtimeFolder.c_str(),
                                   privatefiles::FileKind::directory)) {
    return runtimeFolder / kFolderName;
  }
  return home() / ".local" / "share" / kFolderName;
}

std::filesystem::path sessionKeyringLockFolder() {
  // Where systemd-logind makes the user's runtime folder; a session without one (no logind, a
  // container) falls back to the password database's home, which every process agrees on.
  return keyringLockFolder("/run/user/" + std::to_string(::getuid()), passwordDatabaseHome);
}

// A store that says nothing else keeps its lock where the file store does.
std::filesystem::path KeychainBackend::lockFolder() { return fileStoreLockFolder(); }

}  // namespace pellow
