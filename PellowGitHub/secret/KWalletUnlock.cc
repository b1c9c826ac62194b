#include "PellowGitHub/secret/KWalletUnlock.h"

#include "PellowGitHub/secret/SecretModuleABI.h"

namespace pellow::secret {
namespace {

constexpr const char* kKWalletName = "org.kde.kwalletd5";
constexpr const char* kKWalletPath = "/modules/kwalletd5";
constexpr const char* kKWalletInterface = "org.kde.KWallet";

// Whether the Secret Service is kwalletd: the same connection owns both names. A name alone
// proves nothing (anyone may own org.kde.kwalletd5); only one process owning both does.
bool servedByKWallet(SecretBus& bus) {
  std::string secrets;
  std::string kwallet;
  return bus.nameOwner("org.freedesktop.secrets", secrets) == PELLOW_SECRET_SUCCESS &&
         bus.nameOwner(kKWalletName, kwallet) == PELLOW_SECRET_SUCCESS && secrets == kwallet;
}

}  // namespace

std::int32_t unlockOpenKWallet(SecretBus& bus, const std::string& collection, std::string& reason) {
  if (!servedByKWallet(bus)) {
    reason = "the default collection is locked";
    return PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
  }
  // kwalletd names each collection after the wallet behind it.
  std::string wallet;
  std::int32_t status = bus.label(collection, wallet);
  if (status != PELLOW_SECRET_SUCCESS) {
    reason = "kwallet: the collection has no readable label";
    return status == PELLOW_SECRET_ITEM_NOT_FOUND ? PELLOW_SECRET_INTERACTION_NOT_ALLOWED : status;
  }
  // isOpen only reports; unlike open() it never asks for the wallet's password.
  GVariantPtr reply;
  status = bus.call(kKWalletPath, kKWalletInterface, "isOpen", g_variant_new("(s)", wallet.c_str()),
                    G_VARIANT_TYPE("(b)"), reply, kKWalletName);
  if (status != PELLOW_SECRET_SUCCESS) {
    reason = "kwallet: isOpen did not answer";
    return status == PELLOW_SECRET_ITEM_NOT_FOUND ? PELLOW_SECRET_INTERACTION_NOT_ALLOWED : status;
  }
  gboolean open = FALSE;
  g_variant_get(reply.get(), "(b)", &open);
  if (open == FALSE) {
    reason = "kwallet: the wallet is closed";
    return PELLOW_SECRET_INTERACTION_NOT_ALLOWED;
  }
  status = bus.unlock(collection);
  if (status != PELLOW_SECRET_SUCCESS) {
    reason = "kwallet: the open wallet's collection did not unlock";
    return status;
  }
  // The prompt said done; the collection itself must agree before anything is searched.
  bool locked = true;
  status = bus.locked(collection, locked);
  if (status != PELLOW_SECRET_SUCCESS) return status;
  reason = locked ? "kwallet: the collection stayed locked" : "kwallet: unlocked the open wallet";
  return locked ? PELLOW_SECRET_INTERACTION_NOT_ALLOWED : PELLOW_SECRET_SUCCESS;
}

}  // namespace pellow::secret
