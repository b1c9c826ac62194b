// Whether a folder or file is private to the user running this process: the right kind (never a
// symbolic link), owned by the real user id, no permission bit for group or others.
//
//   struct stat info {};
//   if (::fstat(fd.get(), &info) != 0 || !privatefiles::isPrivate(info, FileKind::regularFile))
//     refuse();
//   if (!privatefiles::isPrivateEntry(AT_FDCWD, folder.c_str(), FileKind::directory)) refuse();
//
// Stores check what they open this way and refuse, never repair, what fails: a folder that is not
// private is reported, not chmod-ed. Both functions only read; safe from any thread.
#pragma once

#include <sys/stat.h>

namespace privatefiles {

enum class FileKind { directory, regularFile };

// True when `info` is of `kind`, its owner is getuid() and no bit of 0077 is set.
bool isPrivate(const struct stat& info, FileKind kind) noexcept;

// fstatat(folder, name, AT_SYMLINK_NOFOLLOW) then isPrivate: a symbolic link is judged itself,
// never followed. `folder` may be AT_FDCWD with a path as `name`. False when nothing can be
// examined there (errno as fstatat left it).
bool isPrivateEntry(int folder, const char* name, FileKind kind) noexcept;

}  // namespace privatefiles
