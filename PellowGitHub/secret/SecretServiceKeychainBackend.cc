#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "PellowGitHub/store/CredentialLockFolder.h"
#include "PellowGitHub/support/DeferredSignals.h"
#include "PellowGitHub/support/ModuleLocation.h"
#include "Session/ModuleLoader.h"
#include "Session/Trace.h"

namespace pellow {
namespace {

// Loaded once per process and never unloaded: GLib registers types and threads that cannot be
// taken back. Null when the module is missing, refused or does not match this helper (the trace
// says which).
const PellowSecretModule* loadSecretModule(const Session& session) {
  static const PellowSecretModule* const module =
      loadModuleTable<PellowSecretModule>(session, kSecretModuleFileName, installedModuleFolder(),
                                          PELLOW_SECRET_ENTRY_SYMBOL, PELLOW_SECRET_ABI_VERSION);
  return module;
}

PellowSecretString view(std::string_view text) {
  return PellowSecretString{text.data(), text.size()};
}

KeychainStatus statusOf(std::int32_t status) {
  switch (status) {
    case PELLOW_SECRET_SUCCESS:
      return KeychainStatus::success;
    case PELLOW_SECRET_ITEM_NOT_FOUND:
      return KeychainStatus::itemNotFound;
    case PELLOW_SECRET_INTERACTION_NOT_ALLOWED:
      return KeychainStatus::interactionNotAllowed;
    default:
      return KeychainStatus::ioError;
  }
}

}  // namespace

KeychainStatus SecretServiceKeychainBackend::traced(std::int32_t status) const {
  if (const char* reason = module_.last_reason(store_); reason != nullptr) {
    trace::line("store", std::string("keyring: ") + reason);
  }
  return statusOf(status);
}

std::unique_ptr<SecretServiceKeychainBackend> SecretServiceKeychainBackend::connect(
    std::chrono::milliseconds budget, const Session& session) {
  const PellowSecretModule* module = loadSecretModule(session);
  if (module == nullptr) return nullptr;
  // GLib starts its worker threads inside the module. Made while the signals that end a process
  // are held back, they keep them held back for good, so that such a signal always reaches a
  // thread of ours, where a renewal can hold it back until the new credential is stored.
  const DeferredSignals deferred;
  void* store = module->open(static_cast<std::int64_t>(budget.count()));
  if (store == nullptr) return nullptr;
  return std::unique_ptr<SecretServiceKeychainBackend>(
      new SecretServiceKeychainBackend(*module, store));
}

SecretServiceKeychainBackend::~SecretServiceKeychainBackend() {
  const DeferredSignals deferred;  // as in connect(): threads GLib starts now inherit the mask
  module_.close(store_);
}

KeychainStatus SecretServiceKeychainBackend::copyData(const KeychainItemKey& key,
                                                      std::optional<std::string>& data) {
  data.reset();
  const auto receive = [](void* context, PellowSecretString bytes) {
    static_cast<std::optional<std::string>*>(context)->emplace(bytes.data, bytes.size);
  };
  const DeferredSignals deferred;  // as in connect(): threads GLib starts now inherit the mask
  const KeychainStatus status =
      traced(module_.copy_data(store_, view(key.service), view(key.account), &data, receive));
  if (status != KeychainStatus::success) data.reset();
  return status;
}

KeychainStatus SecretServiceKeychainBackend::update(const KeychainItemKey& key,
                                                    std::string_view data) {
  const DeferredSignals deferred;
  return traced(module_.update(store_, view(key.service), view(key.account), view(data)));
}

KeychainStatus SecretServiceKeychainBackend::add(const KeychainItemKey& key, std::string_view data,
                                                 std::string_view label, KeychainAccessibility) {
  const DeferredSignals deferred;
  return traced(module_.add(store_, view(key.service), view(key.account), view(data), view(label)));
}

std::filesystem::path SecretServiceKeychainBackend::lockFolder() {
  return sessionKeyringLockFolder();
}

KeychainStatus SecretServiceKeychainBackend::remove(const KeychainItemKey& key) {
  const DeferredSignals deferred;
  return traced(module_.remove(store_, view(key.service), view(key.account)));
}

}  // namespace pellow
