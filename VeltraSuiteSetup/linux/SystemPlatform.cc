// The real services of this machine, for the operations' overloads without a platform.

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/bundle/CodeSignature.h"
#include "VeltraSuiteSetup/linux/LinuxMainBundle.h"
#include "VeltraSuiteSetup/linux/LinuxWorkspace.h"
#include "VeltraSuiteSetup/linux/SystemAlertPresenter.h"

#ifndef VELTRA_APPLICATIONS_DIR
#define VELTRA_APPLICATIONS_DIR "/Applications"
#endif

namespace veltra {
namespace {

class SealedApp final : public CheckedApp {
 public:
  explicit SealedApp(SealedBundle bundle) : bundle_(std::move(bundle)) {}
  const std::filesystem::path& path() const override { return bundle_.path; }
  int executable() const override { return bundle_.executable.get(); }

 private:
  SealedBundle bundle_;
};

class SignatureCodeVerifier final : public CodeVerifier {
 public:
  std::shared_ptr<const CheckedApp> check(const std::filesystem::path& url,
                                          std::string_view bundleId) override {
    // The catalogue comes first, as in VeltraSuiteSetup::verified: no disk access otherwise.
    if (!VeltraSuiteSetup::isCatalogueApp(bundleId)) return nullptr;
    const SignatureVerifier* verifier = SignatureVerifier::builtIn();
    if (verifier == nullptr) return nullptr;
    auto sealed = verifier->check(url, bundleId, VeltraSuiteSetup::team());
    if (!sealed) return nullptr;
    return std::make_shared<SealedApp>(std::move(*sealed));
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
