// SecretPortal: the app's own secret from the Secret portal (org.freedesktop.portal.Secret), the
// key material of the credential store inside a Flatpak sandbox (PortalKeychainBackend.h), and
// the encryption made with it. Both come from the keyring module "pellow-secret.so"
// (PortalModuleABI.h), loaded by the session kit's loader only when a run inside a sandbox
// first needs the credential.
//
//   std::unique_ptr<SecretPortal> portal = makeDesktopSecretPortal(session);
//   std::string secret;
//   switch (portal->retrieveSecret(secret)) { case PortalAnswer::secret: ... }
//   std::optional<std::string> sealed = sealWithPortalSecret(session, secret, associated, data);
//
// Tests give the store a SecretPortal of their own with a fixed secret.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowSession/Session.h"

namespace pellow {

enum class PortalAnswer {
  secret,   // the secret was handed over
  absent,   // no Secret portal at all: no bus, no portal, or a portal without a secret backend
  refused,  // the portal answered with a response other than success
  failed,   // the bus or the portal failed, or did not answer within the budget
};

class SecretPortal {
 public:
  virtual ~SecretPortal() = default;
  // Asks for the app's secret; on PortalAnswer::secret `secret` holds its bytes (the portal's
  // backend keeps it, the same across runs), otherwise it is left empty. Never prompts beyond
  // what the portal itself decides, never throws, and never waits longer than its budget.
  virtual PortalAnswer retrieveSecret(std::string& secret) = 0;
};

// The Secret portal on `session`'s bus, through the keyring module, all within `budget`. Without
// a bus address the answer is absent; a module that cannot be loaded answers failed.
std::unique_ptr<SecretPortal> makeDesktopSecretPortal(const Session& session,
                                                      std::chrono::milliseconds budget);

// Whether opening failed on the bytes (not authentic) or for another reason.
enum class UnsealStatus { opened, notAuthentic, failed };

// AES-256-GCM under a key derived with HKDF-SHA256 from `secret`, a fresh random nonce, and
// `associated` bound to the result (PortalModuleABI.h gives the form). Nothing when the module
// cannot be loaded or libcrypto fails.
std::optional<std::string> sealWithPortalSecret(const Session& session, std::string_view secret,
                                                std::string_view associated,
                                                std::string_view plaintext);

// The inverse; `plaintext` is set only on UnsealStatus::opened.
UnsealStatus openWithPortalSecret(const Session& session, std::string_view secret,
                                  std::string_view associated, std::string_view sealed,
                                  std::string& plaintext);

}  // namespace pellow
