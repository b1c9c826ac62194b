#include "PrivateFiles/PrivateCheck.h"

#include <fcntl.h>
#include <unistd.h>

namespace privatefiles {

bool isPrivate(const struct stat& info, FileKind kind) noexcept {
  const mode_t wanted = kind == FileKind::directory ? S_IFDIR : S_IFREG;
  return (info.st_mode & S_IFMT) == wanted && info.st_uid == ::getuid() &&
         (info.st_mode & 077) == 0;
}

bool isPrivateEntry(int folder, const char* name, FileKind kind) noexcept {
  struct stat info {};
  return ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && isPrivate(info, kind);
}

}  // namespace privatefiles
