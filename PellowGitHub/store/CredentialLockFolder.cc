#include "PellowGitHub/store/CredentialLockFolder.h"

#include <fcntl.h>

#include <stdexcept>
#include <string>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/store/ApplicationSupport.h"
#include "PellowSession/Session.h"
#include "PrivateFiles/PrivateCheck.h"

namespace pellow {
namespace {

constexpr const char* kFolderName = "PellowGitHub";

// Read from the password database, never from HOME, and only when the runtime folder will not
// serve.
std::filesystem::path passwordDatabaseHome() {
  std::filesystem::path home = Session::passwordDatabaseHome(Session::current().userID);
  if (home.empty()) throw std::runtime_error("no home folder");
  return home;
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
  return keyringLockFolder("/run/user/" + std::to_string(Session::current().userID),
                           passwordDatabaseHome);
}

// A store that says nothing else keeps its lock where the file store does.
std::filesystem::path KeychainBackend::lockFolder() { return fileStoreLockFolder(); }

}  // namespace pellow
