#include "PrivateFiles/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace privatefiles {
namespace {

constexpr mode_t kFolderMode = 0700;

[[noreturn]] void fail(const char* what, const std::filesystem::path& path) {
  throw std::filesystem::filesystem_error(what, path,
                                          std::error_code(errno, std::generic_category()));
}

// 0 when made now, else the errno of mkdirat.
int makeFolder(int parent, const char* name) {
  if (::mkdirat(parent, name, kFolderMode) != 0) return errno;
  // AT_SYMLINK_NOFOLLOW: a link swapped in since the mkdir is refused, its target left alone.
  if (::fchmodat(parent, name, kFolderMode, AT_SYMLINK_NOFOLLOW) != 0) {
    fail("cannot set the folder's mode", name);
  }
  return 0;
}

}  // namespace

bool createPrivateFolder(int parent, const char* name) {
  const int error = makeFolder(parent, name);
  if (error == 0) return true;
  if (error == EEXIST) return false;
  errno = error;
  fail("cannot create folder", name);
}

void createPrivateFolders(const std::filesystem::path& path) {
  std::filesystem::path partial;
  for (const auto& component : path) {
    partial /= component;
    const int error = makeFolder(AT_FDCWD, partial.c_str());
    if (error == 0 || error == EEXIST) continue;
    // Some file systems answer EACCES or EROFS before EEXIST for a folder that is there.
    struct stat info {};
    if (::stat(partial.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    errno = error;
    fail("cannot create folder", partial);
  }
}

}  // namespace privatefiles
