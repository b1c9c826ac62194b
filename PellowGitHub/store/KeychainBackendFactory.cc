#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"
#include "PellowGitHub/store/FileKeychainBackend.h"
#include "PellowGitHub/store/PortalKeychainBackend.h"
#include "Session/Trace.h"

namespace pellow {
namespace {

// Chooses the store on first use, so that runs that never touch the keychain (most sign-in
// steps) neither load the Secret Service module nor talk to the bus. The rule has no setting:
// inside a Flatpak sandbox the Secret portal's encrypted store (which itself falls back to the
// file store only when no Secret portal exists at all); elsewhere the Secret Service when a
// session bus is known and a Secret Service owns its name there, otherwise the private file
// store. A sandbox never uses the host's keyring directly: its lock would be split from the
// host's (PortalKeychainBackend.h).
class DefaultKeychainBackend final : public KeychainBackend {
 public:
  explicit DefaultKeychainBackend(const Session& session) : session_(session) {}

  KeychainStatus copyData(const KeychainItemKey& key, std::optional<std::string>& data) override {
    return chosen().copyData(key, data);
  }
  KeychainStatus update(const KeychainItemKey& key, std::string_view data) override {
    return chosen().update(key, data);
  }
  KeychainStatus add(const KeychainItemKey& key, std::string_view data, std::string_view label,
                     KeychainAccessibility accessibility) override {
    return chosen().add(key, data, label, accessibility);
  }
  KeychainStatus remove(const KeychainItemKey& key) override { return chosen().remove(key); }
  // Chooses the store first: the lock follows it.
  std::filesystem::path lockFolder() override { return chosen().lockFolder(); }

 private:
  KeychainBackend& chosen() {
    if (!backend_) {
      if (session_.flatpak) {
        trace::line("store", "inside a Flatpak sandbox (app " +
                                 (session_.flatpakAppID.empty() ? std::string("unknown")
                                                                : session_.flatpakAppID) +
                                 "): the Secret portal store");
        if (session_.dataHome.empty()) {
          backend_ = std::make_unique<FileKeychainBackend>();  // fails on use: no home folder
        } else {
          backend_ = std::make_unique<PortalKeychainBackend>(
              session_.dataHome, makeDesktopSecretPortal(session_, kSecretServiceBudget), session_);
        }
        return *backend_;
      }
      if (session_.sessionBusKnown()) {
        backend_ = SecretServiceKeychainBackend::connect(kSecretServiceBudget, session_);
        trace::line("store", backend_ ? "Secret Service on the session bus"
                                      : "file store: no Secret Service on the session bus");
      } else {
        trace::line("store", "file store: no session bus address");
      }
      if (!backend_) {
        if (session_.dataHome.empty()) {
          backend_ = std::make_unique<FileKeychainBackend>();  // fails on use: no home folder
        } else {
          backend_ = std::make_unique<FileKeychainBackend>(session_.dataHome);
        }
      }
    }
    return *backend_;
  }

  Session session_;
  std::unique_ptr<KeychainBackend> backend_;
};

}  // namespace

std::unique_ptr<KeychainBackend> makeDefaultKeychainBackend(const Session& session) {
  return std::make_unique<DefaultKeychainBackend>(session);
}

}  // namespace pellow
