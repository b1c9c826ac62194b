// Inside the keyring module only: the encryption of the portal interface (PortalCrypto.cc),
// with the signatures of PellowPortalModule's seal and open.
#pragma once

#include "PellowGitHub/secret/PortalModuleABI.h"

extern "C" {
int32_t pellow_portal_seal(PellowPortalBytes secret, PellowPortalBytes associated,
                           PellowPortalBytes plaintext, void* context,
                           void (*sealed_out)(void*, PellowPortalBytes));
int32_t pellow_portal_open(PellowPortalBytes secret, PellowPortalBytes associated,
                           PellowPortalBytes sealed, void* context,
                           void (*plaintext_out)(void*, PellowPortalBytes));
}
