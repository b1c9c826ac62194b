#include "PellowGitHub/GitHubKeychain.h"

#include <utility>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow {
namespace {

[[noreturn]] void throwKeychainError() { throw PellowError(std::string(kKeychainMessage)); }

}  // namespace

GitHubKeychain::GitHubKeychain(std::string service, std::shared_ptr<KeychainBackend> backend)
    : service_(std::move(service)), backend_(std::move(backend)) {}

KeychainItemKey GitHubKeychain::key() const {
  return KeychainItemKey{service_, std::string(config::kKeychainAccount)};
}

std::optional<GitHubCredential> GitHubKeychain::load() const {
  std::optional<std::string> data;
  switch (backend_->copyData(key(), data)) {
    case KeychainStatus::success:
      break;
    case KeychainStatus::itemNotFound:
      return std::nullopt;
    default:
      throwKeychainError();
  }
  if (!data) throwKeychainError();
  return GitHubCredential::decodeKeychain(*data);
}

void GitHubKeychain::save(const GitHubCredential& credential) const {
  const bool complete = credential.accountID && *credential.accountID >= 1 && credential.login &&
                        !credential.login->empty();
  if (!complete) throwKeychainError();
  const std::string data = credential.encoded();
  const KeychainItemKey itemKey = key();

  switch (backend_->update(itemKey, data)) {
    case KeychainStatus::success:
      return;
    case KeychainStatus::itemNotFound:
      break;
    default:
      throwKeychainError();
  }
  if (backend_->add(itemKey, data, kKeychainItemLabel,
                    KeychainAccessibility::whenUnlockedThisDeviceOnly) != KeychainStatus::success) {
    throwKeychainError();
  }
}

std::filesystem::path GitHubKeychain::lockFolder() const { return backend_->lockFolder(); }

void GitHubKeychain::deleteItem() const {
  const KeychainStatus status = backend_->remove(key());
  if (status != KeychainStatus::success && status != KeychainStatus::itemNotFound) {
    throwKeychainError();
  }
}

}  // namespace pellow
