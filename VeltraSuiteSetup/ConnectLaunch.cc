// Connecting one pair, launching a sibling app, and telling whether a genuine copy runs.

#include "VeltraSuiteSetup/ConnectLaunch.h"

#include <algorithm>
#include <system_error>

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/ConsentStore.h"
#include "VeltraSuiteSetup/Discovery.h"
#include "VeltraSuiteSetup/PairRules.h"
#include "VeltraSuiteSetup/bundle/BundlePath.h"

namespace veltra {
namespace fs = std::filesystem;

namespace {

const VeltraInstalledApp* find(const std::vector<VeltraInstalledApp>& apps, std::string_view id) {
  const auto it = std::find_if(apps.begin(), apps.end(),
                               [id](const VeltraInstalledApp& app) { return app.bundleId == id; });
  return it == apps.end() ? nullptr : &*it;
}

// Links resolved, "." and ".." removed, no trailing "/": two spellings of one folder compare
// equal, also when one runs through a symbolic link (/proc names running executables by their
// physical paths).
fs::path standardised(const fs::path& path) {
  return absolutePath(resolvedPath(path).lexically_normal());
}

const CheckedInstalledApp* findChecked(const std::vector<CheckedInstalledApp>& apps,
                                       std::string_view id) {
  const auto it = std::find_if(apps.begin(), apps.end(), [id](const CheckedInstalledApp& entry) {
    return entry.app.bundleId == id;
  });
  return it == apps.end() ? nullptr : &*it;
}

}  // namespace

void VeltraSuiteSetup::connectPair(std::string_view local, std::string_view remote,
                                   const fs::path& appURL, const fs::path& registry, bool isolated,
                                   VeltraPlatform& platform) {
  const auto apps = installed(local, appURL, isolated, platform);
  if (find(apps, local) == nullptr) {
    throw cocoaError(CocoaError::fileReadNoSuchFile, appURL, "no genuine " + std::string(local));
  }
  if (find(apps, remote) == nullptr) {
    throw cocoaError(CocoaError::fileReadNoSuchFile, appURL.parent_path(),
                     std::string(remote) + " is not installed (or not genuine)");
  }
  approvePair(local, remote, registry);
}

void VeltraSuiteSetup::connectPair(std::string_view local, std::string_view remote,
                                   const fs::path& appURL, const fs::path& registry,
                                   bool isolated) {
  connectPair(local, remote, appURL, registry, isolated, VeltraPlatform::system());
}

bool VeltraSuiteSetup::isRunning(std::string_view bundleId, const fs::path& path, bool isolated,
                                 VeltraPlatform& platform) {
  for (const RunningApplication& running : platform.workspace.runningApplications()) {
    if (!running.bundleIdentifier || *running.bundleIdentifier != bundleId) continue;
    if (!running.bundleURL) continue;
    if (!platform.verifier.verified(*running.bundleURL, bundleId)) continue;
    if (!isolated) return true;
    if (standardised(*running.bundleURL) == standardised(path)) return true;
  }
  return false;
}

void VeltraSuiteSetup::launchDestination(std::string_view local, std::string_view remote,
                                         const fs::path& appURL, const fs::path& registry,
                                         bool isolated, VeltraPlatform& platform,
                                         std::stop_token stop) {
  if (local == remote || !isCatalogueApp(local) || !isCatalogueApp(remote)) {
    throw cocoaError(
        CocoaError::fileReadNoPermission, appURL,
        "not a pair of two suite apps: " + std::string(local) + ", " + std::string(remote));
  }
  const VeltraSuiteConsent consent = read(registry);
  const auto& removed = consent.removedPairs ? *consent.removedPairs : consent.blockedPairs;
  if (std::find(removed.begin(), removed.end(), pair(local, remote)) != removed.end()) {
    throw cocoaError(CocoaError::fileReadNoPermission, registry,
                     "the user removed the pair " + pair(local, remote));
  }
  const auto apps = installedChecked(local, appURL, isolated, platform);
  if (findChecked(apps, local) == nullptr) {
    throw cocoaError(CocoaError::fileReadNoSuchFile, appURL, "no genuine " + std::string(local));
  }
  const CheckedInstalledApp* target = findChecked(apps, remote);
  if (target == nullptr) {
    throw cocoaError(CocoaError::fileReadNoSuchFile, appURL.parent_path(),
                     std::string(remote) + " is not installed (or not genuine)");
  }

  if (isRunning(remote, target->app.path, isolated, platform)) return;
  if (stop.stop_requested())
    throw std::system_error(std::make_error_code(std::errc::operation_canceled));
  // The bundle as discovery checked it: what starts is what was checked.
  platform.workspace.openApplication(*target->checked, OpenConfiguration{false, isolated});
}

void VeltraSuiteSetup::launchDestination(std::string_view local, std::string_view remote,
                                         const fs::path& appURL, const fs::path& registry,
                                         bool isolated) {
  launchDestination(local, remote, appURL, registry, isolated, VeltraPlatform::system());
}

}  // namespace veltra
