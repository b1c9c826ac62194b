// SecretServiceKeychainBackend: the keychain item in the desktop keyring (GNOME Keyring,
// KeePassXC, KWallet's Secret Service), through the module "pellow-secret.so" (SecretModuleABI.h)
// that is loaded only when a session bus exists, from beside the running executable or else
// from the folder the package installed it in (support/ModuleLocation.h).
//
//   if (sessionBusAddressKnown())
//     if (auto backend = SecretServiceKeychainBackend::connect()) ... // else: the file store
//
// The item: one per service, attributes "service" and "account", the label given to add() (set
// on add only), the secret's exact bytes; added to the default collection. Accessibility has no
// counterpart in the Secret Service: the keyring's own lock plays the part of "when unlocked",
// and keyring items never leave the machine.
//
// Never prompts: an item or collection that is locked answers interactionNotAllowed. Every call
// together is bounded by kSecretServiceBudget (a stuck daemon answers interactionNotAllowed once
// the budget is spent). Statuses: success, itemNotFound, interactionNotAllowed, ioError.
// Never throws. One thread at a time.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/secret/SecretModuleABI.h"

namespace pellow {

inline constexpr const char* kSecretModuleFileName = "pellow-secret.so";
// The time that one run may spend in the Secret Service, connecting included.
inline constexpr std::chrono::milliseconds kSecretServiceBudget{3000};

// Whether a session bus address is known without asking anyone: DBUS_SESSION_BUS_ADDRESS is set,
// or $XDG_RUNTIME_DIR/bus is a socket. Cheap (no library is loaded); never starts a bus.
bool sessionBusAddressKnown();

class SecretServiceKeychainBackend final : public KeychainBackend {
 public:
  // Loads the module and connects. Nothing when the module cannot be loaded, there is no bus, or
  // no Secret Service owns its name on it (one that is merely activatable is not started). A
  // service that owns the name but does not answer still gives a backend, whose calls then fail
  // (interactionNotAllowed): the keyring stays the user's store, and nothing is split off into
  // the file store.
  static std::unique_ptr<SecretServiceKeychainBackend> connect(
      std::chrono::milliseconds budget = kSecretServiceBudget);
  ~SecretServiceKeychainBackend() override;
  SecretServiceKeychainBackend(const SecretServiceKeychainBackend&) = delete;
  SecretServiceKeychainBackend& operator=(const SecretServiceKeychainBackend&) = delete;

  KeychainStatus copyData(const KeychainItemKey& key, std::optional<std::string>& data) override;
  KeychainStatus update(const KeychainItemKey& key, std::string_view data) override;
  KeychainStatus add(const KeychainItemKey& key, std::string_view data, std::string_view label,
                     KeychainAccessibility accessibility) override;
  KeychainStatus remove(const KeychainItemKey& key) override;

 private:
  SecretServiceKeychainBackend(const PellowSecretModule& module, void* store)
      : module_(module), store_(store) {}

  const PellowSecretModule& module_;
  void* store_;
};

}  // namespace pellow
