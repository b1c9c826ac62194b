// The folder of the stored credential's files, <Application Support>/PellowGitHub/Keychain,
// opened and checked, and the failure handling of the stores that keep files there: the private
// file store (FileKeychainBackend) and the Secret portal's encrypted store
// (PortalKeychainBackend), which keep their items side by side.
//
//   UniqueFd folder = openKeychainFolder(applicationSupport, /*create=*/false);
//   if (!folder) ...   // the store holds nothing yet
//
// "PellowGitHub" and "Keychain" must be real directories (not symbolic links) of the user with
// no group or other permission bit; an existing folder is used as it is, never repaired. With
// `create` missing folders are made 0700 (parents of Application Support too).
#pragma once

#include <cstddef>
#include <exception>
#include <filesystem>
#include <string>

#include "PellowGitHub/KeychainBackend.h"
#include "PrivateFiles/UniqueFd.h"

namespace pellow {

// The checked Keychain folder (O_RDONLY | O_DIRECTORY, close-on-exec), or an empty descriptor
// when it does not exist and `create` is false. Throws std::system_error when a folder fails its
// check or cannot be opened or made.
privatefiles::UniqueFd openKeychainFolder(const std::filesystem::path& applicationSupport,
                                          bool create);

namespace keychainfiles {

// Thrown inside a store's implementation only; guarded() turns it into the call's status.
struct StoreFailure {
  KeychainStatus status;
};

[[noreturn]] inline void fail() { throw StoreFailure{KeychainStatus::ioError}; }

// Runs a store operation: its status, or ioError for any failure it throws.
template <typename Body>
KeychainStatus guarded(Body body) noexcept {
  try {
    return body();
  } catch (const StoreFailure& failure) {
    return failure.status;
  } catch (const std::exception&) {
    return KeychainStatus::ioError;
  }
}

// Deletes the hidden temporary files of the Keychain folder `folder`. Writers run under the
// credential lock, so such a file is what a writer killed mid-save left (it may hold a whole
// credential, refresh token included). Throws StoreFailure when one cannot be deleted.
void removeLeftovers(int folder);

enum class ItemFileState { missing, damaged, present };

struct ItemFile {
  ItemFileState state = ItemFileState::missing;
  std::string bytes;  // present only
};

// Reads the file `name` of the Keychain folder `folder`: missing, damaged (larger than `limit`
// bytes) or present with its bytes. Opened without following a link and without waiting on a
// FIFO; a file that is not a private regular file of the user, or cannot be read, throws
// StoreFailure: the store never reads what it refused.
ItemFile readItemFile(int folder, const std::string& name, std::size_t limit);

}  // namespace keychainfiles

}  // namespace pellow
