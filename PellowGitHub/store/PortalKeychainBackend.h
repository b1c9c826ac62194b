// PortalKeychainBackend: the keychain inside a Flatpak sandbox, where the desktop keyring is out
// of reach. Each item is a file encrypted and authenticated with a key that only the Secret
// portal can give this app (SecretPortal.h), kept beside the private file store's items:
//
//   <Application Support>/PellowGitHub/Keychain/<service>+<account>.sealed    (0600, 0700 folders)
//   <Application Support>/PellowGitHub/credential.lock                       (lockFolder())
//
// Inside a sandbox Application Support is the app's own data folder (~/.var/app/<app id>/data
// seen from the host), the same for every process of the app's sandboxes (the app, git, the
// helpers), so they all take the one lock beside the item; nothing depends on the runtime folder,
// which differs between a sandbox and the host.
//
// The sealed file: the line "pellow-sealed-item 1\n", then the sealed form of PortalModuleABI.h
// (version byte, random 96-bit nonce, AES-256-GCM ciphertext of the item in the file store's
// form of FileKeychainItem.h, tag) under a key derived with HKDF-SHA256 from the portal's
// secret; the associated data binds the first line, the service and the account, so a file
// renamed to another item fails too. A file that fails authentication (tampered, truncated,
// another key) or does not hold this item reads as an item with empty data, which the
// credential layer reports as an unreadable credential, never as signed out; writers treat it as
// free (add replaces it), so a new sign-in recovers.
//
// The portal is asked once per backend, on first use:
// - the secret: the store above;
// - no Secret portal at all (no bus, no portal, no backend that keeps secrets): the private file
//   store's rule applies unchanged (FileKeychainBackend, plain items), and the trace says so;
// - refused, failed or not answered within the budget: every call answers
//   interactionNotAllowed (the Keychain message) and nothing is read, written or removed.
//
// An earlier version kept the item in plain form (FileKeychainBackend's "<...>.item") in the same
// folder. The first read that finds no sealed item but a plain one moves it: the item is sealed,
// added (never over a sealed item that appeared meanwhile) and the plain file removed; add and
// remove delete the plain file too, so after any change no plain copy is left. A damaged plain
// item is not moved: it reads as unreadable until the next sign-in replaces it.
//
// Statuses: success, itemNotFound, interactionNotAllowed, ioError. Never throws (allocation
// aside). Writers must be serialised by the credential lock, as for the file store.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/secret/SecretPortal.h"
#include "PellowSession/Session.h"

namespace pellow {

class PortalKeychainBackend final : public KeychainBackend {
 public:
  // `applicationSupport` is absolute; `session` serves loading the module that encrypts.
  PortalKeychainBackend(std::filesystem::path applicationSupport,
                        std::unique_ptr<SecretPortal> portal, Session session);
  ~PortalKeychainBackend() override;
  PortalKeychainBackend(const PortalKeychainBackend&) = delete;
  PortalKeychainBackend& operator=(const PortalKeychainBackend&) = delete;

  KeychainStatus copyData(const KeychainItemKey& key, std::optional<std::string>& data) override;
  KeychainStatus update(const KeychainItemKey& key, std::string_view data) override;
  KeychainStatus add(const KeychainItemKey& key, std::string_view data, std::string_view label,
                     KeychainAccessibility accessibility) override;
  KeychainStatus remove(const KeychainItemKey& key) override;
  // <Application Support>/PellowGitHub, whatever the portal answers.
  std::filesystem::path lockFolder() override;

  // The file name of an item's sealed form: keychainItemFileName() with ".sealed" for ".item".
  static std::string sealedFileName(const KeychainItemKey& key);

 private:
  enum class Mode { unknown, sealed, plain, unavailable };
  Mode mode();
  // Asks the portal on first use, then runs `plain` on the file store (no portal at all),
  // answers interactionNotAllowed (portal refused or failed), or runs `sealed` as a guarded
  // store operation.
  template <typename Plain, typename Sealed>
  KeychainStatus route(Plain plain, Sealed sealed);

  std::filesystem::path applicationSupport_;
  std::unique_ptr<SecretPortal> portal_;
  Session session_;
  Mode mode_ = Mode::unknown;
  std::string secret_;
  std::unique_ptr<KeychainBackend> plain_;  // the file store, for Mode::plain
};

}  // namespace pellow
