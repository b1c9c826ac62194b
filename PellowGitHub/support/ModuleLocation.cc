#include "PellowGitHub/support/ModuleLocation.h"

#include <sys/stat.h>

#include <system_error>

#ifndef PELLOW_INSTALLED_MODULE_DIR
#error "PELLOW_INSTALLED_MODULE_DIR names the installed module folder (set by CMake)"
#endif

namespace pellow {

std::filesystem::path installedModuleFolder() { return PELLOW_INSTALLED_MODULE_DIR; }

std::filesystem::path modulePath(std::string_view fileName) {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path beside = executable.parent_path() / fileName;
    // Only a regular file counts (stat follows a link, as dlopen would).
    struct stat info {};
    if (::stat(beside.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return beside;
  }
  return installedModuleFolder() / fileName;
}

}  // namespace pellow
