// The real services of this machine, for the operations' overloads without a platform.

#include "Session/Trace.h"
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
    if (!VeltraSuiteSetup::isCatalogueApp(bundleId)) {
      pellow::trace::line(
          "bundle", url.string() + ": " + std::string(bundleId) + " is not an app of the suite");
      return nullptr;
    }
    const SignatureVerifier* verifier = SignatureVerifier::builtIn();
    if (verifier == nullptr) {
      pellow::trace::line("bundle", "the built-in trust anchor cannot be read");
      return nullptr;
    }
    std::string problem;
    auto sealed = verifier->check(url, bundleId, VeltraSuiteSetup::team(), problem);
    if (!sealed) {
      pellow::trace::line("bundle", "refused " + url.string() + " as " + std::string(bundleId) +
                                        ": " + (problem.empty() ? "not genuine" : problem));
      return nullptr;
    }
    pellow::trace::line("bundle",
                        "genuine " + sealed->path.string() + " (" + std::string(bundleId) + ")");
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
