#include "PellowGitHub/store/ApplicationSupport.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellow {
namespace {

std::filesystem::path homeDirectory() {
  // A relative HOME counts as unset: git runs the helper inside the work tree, where a relative
  // value would put the credential store under the notes repository.
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && *found->pw_dir != '\0') {
    return found->pw_dir;
  }
  throw std::runtime_error("no home folder");
}

}  // namespace

std::filesystem::path applicationSupportDirectory() {
  // XDG: a relative value is invalid and must be ignored.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return data;
  }
  return homeDirectory() / ".local" / "share";
}

std::filesystem::path pellowGitHubDirectory() {
  return applicationSupportDirectory() / "PellowGitHub";
}

}  // namespace pellow
