// One path per bundle: resolved once, opened without following links, judged by who may change it.
//
//   const std::filesystem::path path = veltra::resolvedPath("apps/link/../Sorel.app");
//   std::string problem;
//   privatefiles::UniqueFd bundle =
//       veltra::openInSafeFolders(path, O_RDONLY | O_DIRECTORY, nullptr, problem);
//   if (!bundle) ... problem ...;   // "/srv/shared: writable by others"
//
// A path that runs through no symbolic link is made absolute and lexically normal, which is how
// the kernel reads its "." and ".." then, so that what is shown is what is opened. A path that
// runs through a link is resolved to its physical form once, and only that form is used from then
// on: it names the object that was checked, listed, matched against running copies and started.
// The bundle itself is never followed if it is a link, and openWithoutLinks refuses a link that
// appears on the way instead of following it.
// Thread-safe: no state.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "PrivateFiles/UniqueFd.h"

namespace veltra {

// The absolute form of `path` (relative to the working directory) without "." components, repeated
// "/" or a trailing "/"; ".." and links stay as written. Also declared, for the library's users,
// in Discovery.h.
std::filesystem::path absolutePath(const std::filesystem::path& path);

// absolutePath(path) lexically normalised ("a/b/.." is "a") when none of its existing components
// is a symbolic link; otherwise the physical path of the folder that holds the last component
// (links resolved, "." and ".." removed, a part that does not exist taken as written) joined with
// that last component as it is, so that a last component that is a link stays one, for
// openWithoutLinks to refuse. When the links cannot be resolved the absolute path is returned,
// which openWithoutLinks then refuses.
std::filesystem::path resolvedPath(const std::filesystem::path& path);

// Opens the absolute `path` from "/" one component at a time without following any symbolic link:
// each folder on the way with O_PATH, the last component with `flags` | O_NOFOLLOW | O_CLOEXEC.
// "." and ".." are taken lexically, as the text reads them (a resolvedPath holds none).
// `parent`, when given, receives the folder holding the last component. Returns an
// invalid descriptor with errno set on failure (ELOOP or ENOTDIR for a link on the way).
privatefiles::UniqueFd openWithoutLinks(const std::filesystem::path& path, int flags,
                                        privatefiles::UniqueFd* parent = nullptr);

// openWithoutLinks, where also every folder on the way, from "/" down to the one that holds the
// last component, must pass folderFault, judged by fstat on the very descriptor the walk goes on
// from (no second lookup of the path). A folder that fails gives an invalid descriptor with errno
// EACCES and `problem` naming the folder and the fault ("/srv/shared: writable by others"); other
// failures leave `problem` as it was, or name a folder that cannot be inspected.
privatefiles::UniqueFd openInSafeFolders(const std::filesystem::path& path, int flags,
                                         privatefiles::UniqueFd* parent, std::string& problem);

// Opens `relative` below the open folder `folder` the same way, one component at a time.
privatefiles::UniqueFd openBelow(int folder, const std::filesystem::path& relative, int flags,
                                 privatefiles::UniqueFd* parent = nullptr);

// Whether only the caller or root can change an entry of a bundle with these attributes: owned by
// the real user or root, not writable by group or others, no setuid or setgid bit.
bool sealedEntry(const struct stat& info);

// The folder rule for every folder from a bundle up to "/": only the caller or root may rename or
// replace what it holds. "" when the folder passes: owned by the real user or root and not
// writable by group or others, unless it is sticky (as /tmp is), where only an entry's owner may
// move the entry and the next folder down answers to this rule. Otherwise a short reason: "not a
// folder", "owned by another user", "writable by others" or "writable by group".
std::string_view folderFault(const struct stat& info);

}  // namespace veltra
