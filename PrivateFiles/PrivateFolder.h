// Private folders: made with mode 0700 whatever the umask.
//
//   privatefiles::createPrivateFolders(lockFolder);                    // and missing parents
//   const bool made = privatefiles::createPrivateFolder(parent.get(), "Keychain");
//   UniqueFd folder(::openat(parent.get(), "Keychain", O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
//   ... then check it with isPrivate (PrivateCheck.h), whether it was made now or earlier.
//
// mkdir applies the umask (under umask 0277 a mkdir with 0700 gives 0500, a folder its owner
// cannot create files in), so every folder made here gets its mode set again right after the
// mkdir, without following a link put in its place meanwhile. A folder that already exists is
// never changed: whether it is private enough is the caller's check, and one that is not is
// refused, not repaired. Both functions throw std::filesystem::filesystem_error carrying the
// system's error; they keep no state and may be called from any thread.
#pragma once

#include <filesystem>

namespace privatefiles {

// Makes the folder `name` in the folder `parent` (AT_FDCWD: `name` is a path) with mode 0700.
// Returns true when this call made it, false when an entry of that name (of any kind) exists.
// Throws when it cannot be made or its mode cannot be set.
bool createPrivateFolder(int parent, const char* name);

// Makes `path` and every missing folder above it, each as createPrivateFolder does. A part
// that exists is passed over, whatever its kind (the next part, or the caller's check, finds a
// file there). Throws for the first part that cannot be made.
void createPrivateFolders(const std::filesystem::path& path);

}  // namespace privatefiles
