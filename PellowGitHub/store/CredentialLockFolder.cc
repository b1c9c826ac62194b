#include "PellowGitHub/store/CredentialLockFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/store/ApplicationSupport.h"

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

std::filesystem::path sessionKeyringLockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && runtime[0] == '/') {
    return std::filesystem::path(runtime) / kFolderName;
  }
  // Where systemd-logind makes the runtime folder when the session did not pass it on (su, cron).
  const std::filesystem::path systemRuntime = "/run/user/" + std::to_string(::getuid());
  struct stat info {};
  if (::lstat(systemRuntime.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return systemRuntime / kFolderName;
  }
  return passwordDatabaseHome() / ".local" / "share" / kFolderName;
}

// A store that says nothing else keeps its lock where the file store does.
std::filesystem::path KeychainBackend::lockFolder() { return fileStoreLockFolder(); }

}  // namespace pellow
