// SecretServiceKeychainBackend: the keychain item in the desktop keyring (GNOME Keyring,
// KeePassXC, KWallet's Secret Service), through the module "pellow-secret.so" (SecretModuleABI.h)
// that is loaded only when a session bus exists, from beside the running executable or else
// from the folder the package installed it in (support/ModuleLocation.h), by the session kit's
// loader, which refuses a module that another account could have written.
//
//   if (session.sessionBusKnown())
//     if (auto backend = SecretServiceKeychainBackend::connect()) ... // else: the file store
//
// The item: one per service, attributes "service" and "account", the label given to add() (set
// on add only), the secret's exact bytes; it lives in the collection that the "default" alias
// names. Accessibility has no counterpart in the Secret Service: the keyring's own lock plays the
// part of "when unlocked", and keyring items never leave the machine.
//
// Never prompts and never asks a provider to unlock: before every operation the default
// collection's Locked property is read, and a locked (or missing) collection answers
// interactionNotAllowed without being searched, read or changed, for GNOME Keyring and KeePassXC
// alike. A provider that refuses a client (KeePassXC's access confirmation) answers
// interactionNotAllowed too. Every call together is bounded by kSecretServiceBudget: a bus or
// daemon that does not answer, or a provider that waits for the user, answers
// interactionNotAllowed once the budget is spent. Statuses: success, itemNotFound,
// interactionNotAllowed, ioError. Never throws. One thread at a time.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/secret/SecretModuleABI.h"
#include "PellowSession/Session.h"

namespace pellow {

inline constexpr const char* kSecretModuleFileName = "pellow-secret.so";
// The time that one run may spend in the Secret Service, connecting included.
inline constexpr std::chrono::milliseconds kSecretServiceBudget{3000};

class SecretServiceKeychainBackend final : public KeychainBackend {
 public:
  // Loads the module and connects. Nothing when the module cannot be loaded, nothing listens at
  // the bus address (no socket, or ECONNREFUSED), or no Secret Service owns its name on the bus
  // (one that is merely activatable is not started). A bus that refuses this client (rejected
  // authentication, a connection closed at once, its connection limit, a full listen queue) or
  // that does not answer in time still gives a backend, whose calls then fail
  // (interactionNotAllowed): the keyring stays the user's store, and nothing is split off into
  // the file store.
  static std::unique_ptr<SecretServiceKeychainBackend> connect(
      std::chrono::milliseconds budget = kSecretServiceBudget,
      const Session& session = Session::current());
  ~SecretServiceKeychainBackend() override;
  SecretServiceKeychainBackend(const SecretServiceKeychainBackend&) = delete;
  SecretServiceKeychainBackend& operator=(const SecretServiceKeychainBackend&) = delete;

  KeychainStatus copyData(const KeychainItemKey& key, std::optional<std::string>& data) override;
  KeychainStatus update(const KeychainItemKey& key, std::string_view data) override;
  KeychainStatus add(const KeychainItemKey& key, std::string_view data, std::string_view label,
                     KeychainAccessibility accessibility) override;
  KeychainStatus remove(const KeychainItemKey& key) override;
  // sessionKeyringLockFolder(): one keyring serves every process of the user, whatever their
  // environment, so the place depends on the user id and the password database only.
  std::filesystem::path lockFolder() override;

 private:
  SecretServiceKeychainBackend(const PellowSecretModule& module, void* store)
      : module_(module), store_(store) {}

  // The status of a module answer, with the module's reason for it traced ("store").
  KeychainStatus traced(std::int32_t status) const;

  const PellowSecretModule& module_;
  void* store_;
};

}  // namespace pellow
