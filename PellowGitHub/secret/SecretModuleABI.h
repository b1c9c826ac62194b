// The C interface of the helper's Secret Service module ("pellow-secret.so").
//
// The desktop keyring is reached through libsecret, which brings GLib and GIO with it: several
// milliseconds of loading that a run on a machine without a session bus must not pay. So the
// code that needs them lives in this module, loaded with dlopen only when a session bus exists
// (SecretServiceKeychainBackend.h). The boundary is plain C: no C++ object, exception or
// allocation crosses it, and data leaves the module only through the caller's callback.
//
// Every call is synchronous for the caller, never prompts, and never waits longer than the time
// budget given to open() (summed over all calls of one store).
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PELLOW_SECRET_ABI_VERSION 2
#define PELLOW_SECRET_ENTRY_SYMBOL "pellow_secret_module_v1"

typedef struct PellowSecretString {
  const char* data;
  size_t size;
} PellowSecretString;

// Statuses: the values of pellow::KeychainStatus.
#define PELLOW_SECRET_SUCCESS 0
#define PELLOW_SECRET_ITEM_NOT_FOUND (-25300)
#define PELLOW_SECRET_INTERACTION_NOT_ALLOWED (-25308)
#define PELLOW_SECRET_IO_ERROR (-36)

typedef struct PellowSecretModule {
  int abi_version;  // PELLOW_SECRET_ABI_VERSION

  // Connects to the session bus and returns a store when a Secret Service owns its name there
  // (a service that is merely activatable is not started). NULL when nothing listens at the bus
  // address (no socket there, or the connection is refused) or no service owns the name. A bus
  // that refuses this client (authentication rejected, connection closed at once, its connection
  // limit reached, a full listen queue), or a bus or service that does not answer in time (or
  // fails), still gives a store, whose every call answers PELLOW_SECRET_INTERACTION_NOT_ALLOWED
  // (or PELLOW_SECRET_IO_ERROR): the keyring stays the user's store. `budget_ms` bounds the time
  // spent in this and every later call on the store.
  void* (*open)(int64_t budget_ms);
  void (*close)(void* store);

  // The secret of the item with these attributes. On PELLOW_SECRET_SUCCESS `data_out` has been
  // called with the bytes, which are never empty: a secret that cannot be loaded or reads as
  // empty answers PELLOW_SECRET_INTERACTION_NOT_ALLOWED.
  int32_t (*copy_data)(void* store, PellowSecretString service, PellowSecretString account,
                       void* context, void (*data_out)(void* context, PellowSecretString data));
  // Each call (copy_data too) first reads the Locked property of the default collection, where
  // the item lives; a locked (or missing) default collection answers
  // PELLOW_SECRET_INTERACTION_NOT_ALLOWED before anything else is sent. Except for kwalletd: when
  // it owns the service and the collection's wallet is open, the collection is unlocked through
  // the Secret Service first (its prompt shows nothing). Unlock is never called elsewhere.
  // Replaces the secret of every matching item; label and attributes stay.
  int32_t (*update)(void* store, PellowSecretString service, PellowSecretString account,
                    PellowSecretString data);
  // Adds an item to the default collection.
  int32_t (*add)(void* store, PellowSecretString service, PellowSecretString account,
                 PellowSecretString data, PellowSecretString label);
  // Deletes every matching item.
  int32_t (*remove)(void* store, PellowSecretString service, PellowSecretString account);

  // Why the store's last call answered as it did where the status alone does not say (a locked
  // or missing default collection, a closed KWallet wallet, an empty secret), or NULL. Valid
  // until the next call on the store; never contains a secret.
  const char* (*last_reason)(void* store);
} PellowSecretModule;

// The module's one exported symbol (PELLOW_SECRET_ENTRY_SYMBOL).
typedef const PellowSecretModule* (*PellowSecretEntry)(void);

#ifdef __cplusplus
}
#endif
