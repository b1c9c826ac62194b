// One path per bundle: resolved once, opened without following links, judged by who may change it.
//
//   const std::filesystem::path path = veltra::resolvedPath("apps/link/../Sorel.app");
//   privatefiles::UniqueFd holder;
//   privatefiles::UniqueFd bundle = veltra::openWithoutLinks(path, O_RDONLY | O_DIRECTORY, &holder);
//   struct stat info;
//   if (::fstat(holder.get(), &info) == 0 && veltra::safeHolder(info)) ...
//
// A path that runs through no symbolic link stays as it was written (made absolute), so that what
// is shown is what the caller gave; the kernel reads its "." and ".." as the text does. A path that
// runs through a link is resolved to its physical form once, and only that form is used from then
// on: it names the object that was checked, listed, matched against running copies and started.
// The bundle itself is never followed if it is a link, and openWithoutLinks refuses a link that
// appears on the way instead of following it.
// Thread-safe: no state.
#pragma once

#include <sys/stat.h>

#include <filesystem>

#include "PrivateFiles/UniqueFd.h"

namespace veltra {

// The absolute form of `path` (relative to the working directory) without trailing "/"; nothing is
// resolved. Also declared, for the library's users, in Discovery.h.
std::filesystem::path absolutePath(const std::filesystem::path& path);

// absolutePath(path) when none of its existing components is a symbolic link; otherwise the
// physical path of the folder that holds the last component (links resolved, "." and ".."
// removed, a part that does not exist taken as written) joined with that last component as it
// is, so that a last component that is a link stays one, for openWithoutLinks to refuse. When the
// links cannot be resolved the absolute path is returned, which openWithoutLinks then refuses.
std::filesystem::path resolvedPath(const std::filesystem::path& path);

// Opens the absolute `path` from "/" one component at a time without following any symbolic link:
// each folder on the way with O_PATH, the last component with `flags` | O_NOFOLLOW | O_CLOEXEC.
// "." and ".." are taken as the text reads them (resolvedPath keeps them only where no link
// precedes them). `parent`, when given, receives the folder holding the last component. Returns an
// invalid descriptor with errno set on failure (ELOOP or ENOTDIR for a link on the way).
privatefiles::UniqueFd openWithoutLinks(const std::filesystem::path& path, int flags,
                                        privatefiles::UniqueFd* parent = nullptr);

// Opens `relative` below the open folder `folder` the same way, one component at a time.
privatefiles::UniqueFd openBelow(int folder, const std::filesystem::path& relative, int flags,
                                 privatefiles::UniqueFd* parent = nullptr);

// Whether only the caller or root can change an entry of a bundle with these attributes: owned by
// the real user or root, not writable by group or others, no setuid or setgid bit.
bool sealedEntry(const struct stat& info);

// Whether the folder holding a bundle lets only the caller or root rename or replace it: owned by
// the real user or root and not writable by group or others, unless it is sticky (as /tmp is):
// then only an entry's owner may move the entry, and the bundle's entries answer to sealedEntry.
bool safeHolder(const struct stat& info);

}  // namespace veltra
