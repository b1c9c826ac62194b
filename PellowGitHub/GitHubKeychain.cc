#include "PellowGitHub/GitHubKeychain.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow {
namespace {

const char* describe(KeychainStatus status) {
  switch (status) {
    case KeychainStatus::success:
      return "success";
    case KeychainStatus::itemNotFound:
      return "no item";
    case KeychainStatus::interactionNotAllowed:
      return "the store is locked or would need the user";
    default:
      return "the store failed";
  }
}

[[noreturn]] void throwKeychainError(std::string_view operation, std::string detail) {
  throw PellowError(GitHubFailure::keychain,
                    {.what = std::string(operation), .detail = std::move(detail)});
}

[[noreturn]] void throwKeychainError(std::string_view operation, KeychainStatus status) {
  throwKeychainError(operation, std::string(describe(status)) + " (status " +
                                    std::to_string(static_cast<std::int32_t>(status)) + ")");
}

}  // namespace

GitHubKeychain::GitHubKeychain(std::string service, std::shared_ptr<KeychainBackend> backend)
    : service_(std::move(service)), backend_(std::move(backend)) {}

KeychainItemKey GitHubKeychain::key() const {
  return KeychainItemKey{service_, std::string(config::kKeychainAccount)};
}

std::optional<GitHubCredential> GitHubKeychain::load() const {
  std::optional<std::string> data;
  switch (const KeychainStatus status = backend_->copyData(key(), data)) {
    case KeychainStatus::success:
      break;
    case KeychainStatus::itemNotFound:
      return std::nullopt;
    default:
      throwKeychainError("read", status);
  }
  if (!data) throwKeychainError("read", "an item without data");
  return GitHubCredential::decodeKeychain(*data);
}

void GitHubKeychain::save(const GitHubCredential& credential) const {
  const bool complete = credential.accountID && *credential.accountID >= 1 && credential.login &&
                        !credential.login->empty();
  if (!complete) throwKeychainError("save", "a credential without account id or login");
  const std::string data = credential.encoded();
  const KeychainItemKey itemKey = key();

  switch (const KeychainStatus status = backend_->update(itemKey, data)) {
    case KeychainStatus::success:
      return;
    case KeychainStatus::itemNotFound:
      break;
    default:
      throwKeychainError("update", status);
  }
  if (const KeychainStatus status = backend_->add(
          itemKey, data, kKeychainItemLabel, KeychainAccessibility::whenUnlockedThisDeviceOnly);
      status != KeychainStatus::success) {
    throwKeychainError("add", status);
  }
}

std::filesystem::path GitHubKeychain::lockFolder() const { return backend_->lockFolder(); }

void GitHubKeychain::deleteItem() const {
  const KeychainStatus status = backend_->remove(key());
  if (status != KeychainStatus::success && status != KeychainStatus::itemNotFound) {
    throwKeychainError("delete", status);
  }
}

}  // namespace pellow
