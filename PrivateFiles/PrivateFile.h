// Private files opened or created in place, such as lock files: created with mode 0600 whatever
// the umask, never through a symbolic link.
//
//   privatefiles::UniqueFd lock = privatefiles::openPrivateFile(AT_FDCWD, path.c_str(), O_RDWR);
//   if (!lock) fail();                                    // errno as the open left it
//   struct stat info {};
//   if (::fstat(lock.get(), &info) != 0 || !privatefiles::isPrivate(info, FileKind::regularFile))
//     fail();
//
// Files that must appear whole are not made here but by replaceFile/addFile (AtomicFile.h).
#pragma once

#include "PrivateFiles/UniqueFd.h"

namespace privatefiles {

// Opens `name` in `folder` (AT_FDCWD: `name` is a path) with `flags` | O_NOFOLLOW. When nothing
// exists under that name it is created first (O_CREAT | O_EXCL) and its mode set to 0600 with
// fchmod, since the umask may have taken bits away (0400 under umask 0277: the owner could not
// open its own lock file for writing on the next run). An existing file is opened as it is, its
// mode unchanged: the caller checks it. `flags` must hold an access mode and must not hold
// O_CREAT; the descriptor is always close-on-exec (O_CLOEXEC is added). Returns an empty
// UniqueFd with errno set when the file can be neither opened nor created (ELOOP for a symbolic
// link). Safe from any thread; two processes racing to create the file both end up with it open.
UniqueFd openPrivateFile(int folder, const char* name, int flags);

}  // namespace privatefiles
