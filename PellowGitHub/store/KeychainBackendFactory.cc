#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"
#include "PellowGitHub/store/FileKeychainBackend.h"

namespace pellow {
namespace {

// Chooses the store on first use, so that runs that never touch the keychain (most sign-in
// steps) neither load the Secret Service module nor talk to the bus. The rule has no setting:
// the Secret Service when a session bus is known and a Secret Service owns its name there,
// otherwise the private file store.
class DefaultKeychainBackend final : public KeychainBackend {
 public:
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
      if (sessionBusAddressKnown()) backend_ = SecretServiceKeychainBackend::connect();
      if (!backend_) backend_ = std::make_unique<FileKeychainBackend>();
    }
    return *backend_;
  }

  std::unique_ptr<KeychainBackend> backend_;
};

}  // namespace

std::unique_ptr<KeychainBackend> makeDefaultKeychainBackend() {
  return std::make_unique<DefaultKeychainBackend>();
}

}  // namespace pellow
