// FileKeychainBackend: the private file store, the keychain of machines without a Secret Service
// (servers, SSH sessions, CI).
//
//   auto backend = std::make_shared<FileKeychainBackend>();
//   GitHubKeychain keychain(std::string(config::kKeychainService), backend);
//
// Where items live:
//   <Application Support>/PellowGitHub/Keychain/<item file>
// with <Application Support> as ApplicationSupport.h resolves it on every call ($XDG_DATA_HOME,
// else ~/.local/share), the item file named by keychainItemFileName() and holding the form of
// FileKeychainItem.h (label, accessibility and the secret's exact bytes).
//
// Rules:
// - Folders. "PellowGitHub" and "Keychain" are created with mode 0700, set after the mkdir so
//   that the umask cannot change it, on the first add (missing parents of Application Support
//   too); reads, updates and deletes never create anything. Both
//   must be real directories (not symbolic links), owned by the user, with no group or other
//   permission bit; an existing folder is used as it is, never repaired. Application Support
//   itself may be a symbolic link (dotfile managers make it one).
// - Item files: regular files (not symbolic links, FIFOs, ...), owned by the user, no group or
//   other bit; created with mode 0600. Everything is opened relative to the checked folder's
//   descriptor with O_NOFOLLOW, and checked with fstat on the open descriptor.
// - A path that fails a check answers ioError (the credential layer shows its Keychain message);
//   the store never follows, reads or changes what it refused.
// - Atomic replace (PrivateFiles/AtomicFile.h): the new item is written to an anonymous file in
//   the Keychain folder (O_TMPFILE; where the file system has none, a hidden ".<16 hex>.tmp"),
//   mode 0600, synced, then given the item's name: over the old item (update), or only where no
//   item has it (add, which thereby never overwrites an item it did not expect); then the folder
//   is synced. A failure leaves the old item exactly as it was and no temporary file.
// - No credential left behind: update, add and remove first delete every ".<16 hex>.tmp" regular
//   file of the Keychain folder. Writers run under the credential lock, so such a file is what a
//   writer killed mid-save left (it may hold a whole credential, refresh token included); after
//   the next save or remove no copy of an interrupted save remains. A leftover that cannot be
//   deleted answers ioError for update and add; remove deletes the item all the same, answers
//   as if the sweep had worked and keeps the reason (sweepProblem()).
// - update keeps the label and accessibility read from the existing item; only the data changes.
// - A damaged item file (not in the item form, or larger than the store ever writes) reads as
//   an item with empty data, so callers report an unreadable credential. Writers treat it as
//   free: update answers itemNotFound and add replaces it, which lets a new sign-in recover.
//   remove deletes it.
// - add of a key whose item exists answers ioError; data larger than kMaxKeychainItemData too.
//
// Statuses: success, itemNotFound, ioError; never interactionNotAllowed (files need no unlock).
// Never throws (allocation failure aside). Stateless: calls from several threads or processes
// are safe in the sense that every reader sees either the old or the new item; concurrent
// writers must be serialised by the caller (the credential lock).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/KeychainBackend.h"

namespace pellow {

class FileKeychainBackend final : public KeychainBackend {
 public:
  // Uses the Application Support folder of the process's session (Session::current()).
  FileKeychainBackend() = default;
  // Uses `applicationSupport` instead (an absolute path).
  explicit FileKeychainBackend(std::filesystem::path applicationSupport);

  KeychainStatus copyData(const KeychainItemKey& key, std::optional<std::string>& data) override;
  KeychainStatus update(const KeychainItemKey& key, std::string_view data) override;
  KeychainStatus add(const KeychainItemKey& key, std::string_view data, std::string_view label,
                     KeychainAccessibility accessibility) override;
  KeychainStatus remove(const KeychainItemKey& key) override;
  // Beside the items: <Application Support>/PellowGitHub.
  std::filesystem::path lockFolder() override;
  // Why the last remove() left a killed writer's temporary file behind ("" when it did not): a
  // failed sweep does not stop remove() from deleting the item and answering.
  const std::string& sweepProblem() const noexcept { return sweepProblem_; }

 private:
  std::filesystem::path applicationSupport() const;

  std::optional<std::filesystem::path> applicationSupport_;
  std::string sweepProblem_;
};

}  // namespace pellow
