#include "PellowGitHub/secret/SecretPortal.h"

#include <cstdint>

#include "PellowGitHub/secret/PortalModuleABI.h"
#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"
#include "PellowGitHub/support/ModuleLocation.h"
#include "Session/ModuleLoader.h"
#include "Session/Trace.h"

namespace pellow {
namespace {

// Loaded once per process and never unloaded (GLib keeps process-wide state). Null when the
// module is missing, refused or built for another interface (the trace says which).
const PellowPortalModule* loadPortalModule(const Session& session) {
  static const PellowPortalModule* const module =
      loadModuleTable<PellowPortalModule>(session, kSecretModuleFileName, installedModuleFolder(),
                                          PELLOW_PORTAL_ENTRY_SYMBOL, PELLOW_PORTAL_ABI_VERSION);
  return module;
}

PellowPortalBytes bytes(std::string_view text) {
  return PellowPortalBytes{reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

void assign(void* context, PellowPortalBytes data) {
  static_cast<std::string*>(context)->assign(reinterpret_cast<const char*>(data.data), data.size);
}

class DesktopSecretPortal final : public SecretPortal {
 public:
  DesktopSecretPortal(Session session, std::chrono::milliseconds budget)
      : session_(std::move(session)), budget_(budget) {}

  PortalAnswer retrieveSecret(std::string& secret) override {
    secret.clear();
    if (!session_.sessionBusKnown()) return PortalAnswer::absent;
    const PellowPortalModule* module = loadPortalModule(session_);
    if (module == nullptr) return PortalAnswer::failed;
    switch (module->retrieve_secret(session_.sessionBusAddress.c_str(),
                                    static_cast<std::int64_t>(budget_.count()), &secret, &assign)) {
      case PELLOW_PORTAL_SUCCESS:
        return PortalAnswer::secret;
      case PELLOW_PORTAL_ABSENT:
        return PortalAnswer::absent;
      case PELLOW_PORTAL_REFUSED:
        return PortalAnswer::refused;
      default:
        return PortalAnswer::failed;
    }
  }

 private:
  Session session_;
  std::chrono::milliseconds budget_;
};

}  // namespace

std::unique_ptr<SecretPortal> makeDesktopSecretPortal(const Session& session,
                                                      std::chrono::milliseconds budget) {
  return std::make_unique<DesktopSecretPortal>(session, budget);
}

std::optional<std::string> sealWithPortalSecret(const Session& session, std::string_view secret,
                                                std::string_view associated,
                                                std::string_view plaintext) {
  const PellowPortalModule* module = loadPortalModule(session);
  if (module == nullptr) return std::nullopt;
  std::string sealed;
  if (module->seal(bytes(secret), bytes(associated), bytes(plaintext), &sealed, &assign) !=
      PELLOW_PORTAL_SEALED) {
    return std::nullopt;
  }
  return sealed;
}

UnsealStatus openWithPortalSecret(const Session& session, std::string_view secret,
                                  std::string_view associated, std::string_view sealed,
                                  std::string& plaintext) {
  const PellowPortalModule* module = loadPortalModule(session);
  if (module == nullptr) return UnsealStatus::failed;
  switch (module->open(bytes(secret), bytes(associated), bytes(sealed), &plaintext, &assign)) {
    case PELLOW_PORTAL_SEALED:
      return UnsealStatus::opened;
    case PELLOW_PORTAL_NOT_AUTHENTIC:
      return UnsealStatus::notAuthentic;
    default:
      return UnsealStatus::failed;
  }
}

}  // namespace pellow
