// Files written whole or not at all, leaving nothing behind when a writer fails or is killed.
//
//   const privatefiles::TemporaryNames& names = privatefiles::hexTemporaryNames();
//   // Under the store's lock: first what writers killed earlier left behind.
//   if (privatefiles::removeTemporaries(folder.get(), names)) fail();
//   if (std::error_code error = privatefiles::replaceFile(folder.get(), "item", bytes, names))
//     fail(error);                                   // "item" is exactly as it was
//   std::error_code added = privatefiles::addFile(folder.get(), "item", bytes, names);
//   if (added == std::errc::file_exists) ...;        // an existing file is never overwritten
//
// How a file is written: it is made anonymous (O_TMPFILE) in `folder` where the file system can,
// its mode set to `mode` with fchmod (whatever the umask), all bytes written and fsync-ed, and
// only then given a name: linkat to the target (addFile), or linkat to a hidden temporary name
// and renameat over the target (replaceFile). Where O_TMPFILE is missing, or the anonymous file
// cannot be linked (no /proc), the same goes through a hidden temporary file made with O_EXCL.
// A reader of the target sees the old bytes or the new ones, never a part.
//
// What a failure leaves: on every error return the temporary name is removed again and the
// target is as it was. A process killed while it writes leaves nothing of an anonymous file; it
// leaves a hidden temporary file only with the named fallback, or when killed between the link
// and the rename. removeTemporaries removes exactly those (the names that names.matches), so
// a store that calls it under its lock before it writes, and before it deletes, never keeps a
// copy of what an interrupted writer was writing longer than until its next write.
//
// The folder itself is not synced: a caller that needs the new name durable fsyncs the folder.
// Writers of one folder must be serialised by the caller (a lock file) when they sweep, since a
// sweep removes another writer's named temporary; replaceFile and addFile alone are safe
// alongside readers. Nothing throws (allocation failure aside).
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <system_error>

namespace privatefiles {

// How a store names its hidden temporary files, and how a sweep knows them.
struct TemporaryNames {
  // A fresh name starting with ".", different from earlier ones with high probability.
  std::string (*make)();
  // Whether `name` is one make() could have returned; nothing else is ever swept.
  bool (*matches)(std::string_view name);
};

// "." followed by 16 random lower-case hexadecimal digits and ".tmp".
const TemporaryNames& hexTemporaryNames() noexcept;

// Replaces (or creates) `name` in the folder `folder` by a file of exactly `bytes` with mode
// `mode`, in one step. Returns an empty error_code, or the error of the step that failed.
[[nodiscard]] std::error_code replaceFile(int folder, const char* name, std::string_view bytes,
                                          const TemporaryNames& names, mode_t mode = 0600);

// Creates `name` in `folder` as replaceFile does, but only where nothing has that name: then it
// returns std::errc::file_exists and leaves the existing entry alone (the named fallback uses
// renameat2 with RENAME_NOREPLACE, or a hard link where that flag is missing).
[[nodiscard]] std::error_code addFile(int folder, const char* name, std::string_view bytes,
                                      const TemporaryNames& names, mode_t mode = 0600);

// Removes every regular file of `folder` whose name names.matches; other entries, of any name
// or kind, are left alone. Returns an empty error_code, or the first error of listing the
// folder or removing such a file (one that is gone meanwhile is no error); it goes on removing
// the others after an error.
[[nodiscard]] std::error_code removeTemporaries(int folder, const TemporaryNames& names);

}  // namespace privatefiles
