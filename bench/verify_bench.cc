// veltra-verify-bench: one signature check of an app bundle, for timing it from outside.
//
//   veltra-verify-bench /path/Sorel.app com.pemberhollo.sorel     status 0 when verified, else 1
//
// Runs exactly what suite-setup-helper runs for each app (VeltraSuiteSetup::verified, with the
// built-in trust anchor), without the helper's discovery and consent work around it, so that its
// time can be set against `openssl dgst -sha256` over the same files.

#include <cstdio>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: veltra-verify-bench BUNDLE BUNDLE_ID\n", stderr);
    return 2;
  }
  if (!veltra::VeltraSuiteSetup::verified(argv[1], argv[2])) {
    std::fprintf(stderr, "%s: not verified as %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
