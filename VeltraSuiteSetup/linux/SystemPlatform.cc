// The real services of this machine, for the operations' overloads without a platform.

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/linux/LinuxMainBundle.h"
#include "VeltraSuiteSetup/linux/LinuxWorkspace.h"
#include "VeltraSuiteSetup/linux/SystemAlertPresenter.h"

#ifndef VELTRA_APPLICATIONS_DIR
#define VELTRA_APPLICATIONS_DIR "/Applications"
#endif

namespace veltra {
namespace {

class SignatureCodeVerifier final : public CodeVerifier {
 public:
  bool verified(const std::filesystem::path& url, std::string_view bundleId) override {
    return VeltraSuiteSetup::verified(url, bundleId);
  }
};

}  // namespace

VeltraPlatform& VeltraPlatform::system() {
  // All four services are stateless, so one set serves every thread.
  static LinuxWorkspace workspace;
  static SystemAlertPresenter alerts;
  static LinuxMainBundle mainBundle;
  static SignatureCodeVerifier verifier;
  static VeltraPlatform platform{workspace, alerts, mainBundle, verifier, VELTRA_APPLICATIONS_DIR};
  return platform;
}

}  // namespace veltra
