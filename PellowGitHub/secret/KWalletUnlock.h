// KWallet's Secret Service: a collection that reports Locked while its wallet is open.
//
// kwalletd serves the Secret Service API beside its own interface. A wallet opened at login (the
// PAM module hands kwalletd the key) is open, yet its collection answers Locked=true until some
// client calls Unlock, whose prompt then completes at once without showing anything. Searching
// it while locked would find items whose secrets read as empty bytes. So, and only for kwalletd,
// a locked collection whose wallet is open is unlocked here; a closed wallet (its unlock would
// be a password dialog) and every other provider keep the locked answer.
//
//   std::string reason;
//   if (locked) status = unlockOpenKWallet(bus, collection, reason);   // kSuccess: now unlocked
//
// Answers PELLOW_SECRET_SUCCESS when the collection was unlocked, otherwise
// PELLOW_SECRET_INTERACTION_NOT_ALLOWED (or a status of the failed call). Sends nothing but
// name-owner queries and property reads unless the provider is kwalletd and the wallet is open.
// `reason` says what was decided, for the helper's trace (never a secret).
#pragma once

#include <cstdint>
#include <string>

#include "PellowGitHub/secret/SecretBus.h"

namespace pellow::secret {

std::int32_t unlockOpenKWallet(SecretBus& bus, const std::string& collection, std::string& reason);

}  // namespace pellow::secret
