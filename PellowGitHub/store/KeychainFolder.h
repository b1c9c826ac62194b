// The folder of the stored credential's files, <Application Support>/PellowGitHub/Keychain,
// opened and checked: shared by the private file store (FileKeychainBackend) and the Secret
// portal's encrypted store (PortalKeychainBackend), which keep their items side by side.
//
//   UniqueFd folder = openKeychainFolder(applicationSupport, /*create=*/false);
//   if (!folder) ...   // the store holds nothing yet
//
// "PellowGitHub" and "Keychain" must be real directories (not symbolic links) of the user with
// no group or other permission bit; an existing folder is used as it is, never repaired. With
// `create` missing folders are made 0700 (parents of Application Support too).
#pragma once

#include <filesystem>

#include "PrivateFiles/UniqueFd.h"

namespace pellow {

// The checked Keychain folder (O_RDONLY | O_DIRECTORY, close-on-exec), or an empty descriptor
// when it does not exist and `create` is false. Throws std::system_error when a folder fails its
// check or cannot be opened or made.
privatefiles::UniqueFd openKeychainFolder(const std::filesystem::path& applicationSupport,
                                          bool create);

}  // namespace pellow
