#include "PrivateFiles/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace privatefiles {

UniqueFd openPrivateFile(int folder, const char* name, int flags) {
  // An existing file is opened without O_CREAT, so that only a file made here has its mode set.
  // Close-on-exec always: a lock held by a program that an embedding application started would
  // outlive the application.
  flags |= O_CLOEXEC;
  for (int attempt = 0; attempt < 8; ++attempt) {
    UniqueFd fd(::openat(folder, name, flags | O_NOFOLLOW));
    if (fd || errno != ENOENT) return fd;
    fd.reset(::openat(folder, name, flags | O_NOFOLLOW | O_CREAT | O_EXCL, 0600));
    if (fd) {
      if (::fchmod(fd.get(), 0600) == 0) return fd;
      const int error = errno;
      fd.reset();
      errno = error;
      return fd;
    }
    // EEXIST: another process made it since the first open; open that one.
    if (errno != EEXIST) return fd;
  }
  return {};
}

}  // namespace privatefiles
