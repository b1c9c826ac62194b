// Where the credential lock lives. Every process that uses one store must take the same lock,
// whatever its own environment, or two of them could spend the same refresh token at once:
//
//   CredentialLock(clock, keychain.lockFolder()).run(...);   // the backend picks one of these
//
// - The file store: the lock stays beside the items, in <Application Support>/PellowGitHub
//   (fileStoreLockFolder()); a process that sees another Application Support folder also sees
//   another store.
// - A keyring on the session bus: one store for every process of the session, whatever their
//   XDG_DATA_HOME or HOME (an application and git in a terminal). The lock is in the
//   user's runtime folder, the per-session folder that also holds the session bus:
//   sessionKeyringLockFolder() is $XDG_RUNTIME_DIR/PellowGitHub when XDG_RUNTIME_DIR is set and
//   absolute, else /run/user/<uid>/PellowGitHub when that runtime folder exists, else
//   PellowGitHub in the ".local/share" of the home folder that the password database names (not
//   HOME).
// - Inside a Flatpak sandbox neither: the Secret portal's store keeps its own lock beside its
//   items in the app's data folder (PortalKeychainBackend.h); a sandbox's runtime folder is not
//   the host's, so a lock there would not meet the host's processes anyway.
// Both read the environment on every call; nothing is created here. Throw std::runtime_error
// when no home folder can be found at all.
#pragma once

#include <filesystem>

namespace pellow {

std::filesystem::path fileStoreLockFolder();
std::filesystem::path sessionKeyringLockFolder();

}  // namespace pellow
