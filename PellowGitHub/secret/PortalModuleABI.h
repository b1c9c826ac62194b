// The C interface of the Secret portal part of the keyring module ("pellow-secret.so").
//
// Inside a Flatpak sandbox the desktop keyring is out of reach; the Secret portal instead hands
// each app a secret of its own (org.freedesktop.portal.Secret.RetrieveSecret), with which the
// app encrypts what it keeps in its data folder. Both the portal call (GLib/GIO) and the
// encryption (OpenSSL's libcrypto) live in this module, which is loaded only inside a sandbox:
// git's runs outside one load neither library. The boundary is plain C: no C++ object,
// exception or allocation crosses it, and data leaves the module only through the caller's
// callback. The portal's secret is wiped from the module's memory before a call returns.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PELLOW_PORTAL_ABI_VERSION 1
#define PELLOW_PORTAL_ENTRY_SYMBOL "pellow_portal_module_v1"

typedef struct PellowPortalBytes {
  const unsigned char* data;
  size_t size;
} PellowPortalBytes;

// Answers of retrieve_secret.
#define PELLOW_PORTAL_SUCCESS 0
// No Secret portal at all: nothing owns or can start org.freedesktop.portal.Desktop, or it
// offers no org.freedesktop.portal.Secret interface (no portal backend keeps secrets).
#define PELLOW_PORTAL_ABSENT 1
// The portal answered its request with a response other than success (the user or the keyring
// refused, or the keyring could not be unlocked without asking).
#define PELLOW_PORTAL_REFUSED 2
// The bus or the portal failed or did not answer within the budget.
#define PELLOW_PORTAL_FAILED 3

// Answers of seal and open.
#define PELLOW_PORTAL_SEALED 0
// open: the bytes are not a sealed item of this version, or fail authentication (tampered,
// truncated, another key, another item's associated data).
#define PELLOW_PORTAL_NOT_AUTHENTIC 4
// libcrypto failed (no random bytes, allocation).
#define PELLOW_PORTAL_CRYPTO_FAILED 5

// The size of the sealed form's fixed parts: version byte, 96-bit nonce, 128-bit tag.
#define PELLOW_PORTAL_SEAL_OVERHEAD (1 + 12 + 16)

typedef struct PellowPortalModule {
  int abi_version;  // PELLOW_PORTAL_ABI_VERSION

  // Asks the Secret portal on the bus at `bus_address` (a D-Bus address, not empty) for the
  // calling app's secret. On PELLOW_PORTAL_SUCCESS `secret_out` has been called once with the
  // secret's bytes (at least 16). Never waits longer than `budget_ms` in all, connecting
  // included. The portal may be started by D-Bus activation, as a sandboxed app's portal is.
  int32_t (*retrieve_secret)(const char* bus_address, int64_t budget_ms, void* context,
                             void (*secret_out)(void* context, PellowPortalBytes secret));

  // AES-256-GCM with a key derived by HKDF-SHA256 from `secret` (the info string names this
  // use), a fresh random 96-bit nonce, and `associated` authenticated but not encrypted. The
  // sealed form is: version byte 1, nonce, ciphertext, tag. `sealed_out` is called once on
  // PELLOW_PORTAL_SEALED.
  int32_t (*seal)(PellowPortalBytes secret, PellowPortalBytes associated,
                  PellowPortalBytes plaintext, void* context,
                  void (*sealed_out)(void* context, PellowPortalBytes sealed));
  // The inverse: `plaintext_out` is called once, on PELLOW_PORTAL_SEALED only, and only after the
  // tag has been verified; no byte of an unauthenticated plaintext ever leaves the module.
  int32_t (*open)(PellowPortalBytes secret, PellowPortalBytes associated, PellowPortalBytes sealed,
                  void* context, void (*plaintext_out)(void* context, PellowPortalBytes plaintext));
} PellowPortalModule;

// The module's entry symbol for this interface (PELLOW_PORTAL_ENTRY_SYMBOL).
typedef const PellowPortalModule* (*PellowPortalEntry)(void);

#ifdef __cplusplus
}
#endif
