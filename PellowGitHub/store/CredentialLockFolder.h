// Where the credential lock lives. Every process that uses one store must take the same lock,
// whatever its own environment, or two of them could spend the same refresh token at once:
//
//   CredentialLock(clock, keychain.lockFolder()).run(...);   // the backend picks one of these
//
// - The file store: the lock stays beside the items, in <Application Support>/PellowGitHub
//   (fileStoreLockFolder()); a process that sees another Application Support folder also sees
//   another store.
// - A keyring on the session bus: one store for every process of the user, whatever their
//   environment (a sandboxed application, git in a terminal, a shell under su or cron), so the
//   lock's place depends on the user id and the password database only, never on a variable
//   such as XDG_RUNTIME_DIR that a process may lack, carry relative or have changed.
//   sessionKeyringLockFolder() is /run/user/<uid>/PellowGitHub when /run/user/<uid> is a folder
//   (not a symbolic link) owned by the user with no group or other permission bits, else
//   PellowGitHub in the ".local/share" of the home folder that the password database names.
// - Inside a Flatpak sandbox neither: the Secret portal's store keeps its own lock beside its
//   items in the app's data folder (PortalKeychainBackend.h); a sandbox's runtime folder is not
//   the host's, so a lock there would not meet the host's processes anyway.
// keyringLockFolder() is that rule for a given runtime folder and home folder.
// Nothing is created here; the lock then checks the PellowGitHub folder itself. Throw
// std::runtime_error when no home folder can be found at all.
#pragma once

#include <filesystem>
#include <functional>

namespace pellow {

std::filesystem::path fileStoreLockFolder();
std::filesystem::path sessionKeyringLockFolder();
// `home` is asked only when the runtime folder does not serve.
std::filesystem::path keyringLockFolder(const std::filesystem::path& runtimeFolder,
                                        const std::function<std::filesystem::path()>& home);

}  // namespace pellow
