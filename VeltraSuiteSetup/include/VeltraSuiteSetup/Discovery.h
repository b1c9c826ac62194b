// Discovery: which catalogue apps are installed and verified, where, and whether a run is isolated.
// Defined in Discovery.cc.
//
//   namespace S = veltra::VeltraSuiteSetup;
//   const auto registry = veltra::absolutePath(argument);
//   for (const veltra::VeltraInstalledApp& app :
//        S::installed(local, appURL, veltra::isIsolated(registry))) { ... }
//
// Paths are absolute without a trailing "/"; absolutePath() makes one from any path. Nothing is
// cached; the functions are thread-safe when the platform's services are.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "VeltraSuiteSetup/Platform.h"
#include "VeltraSuiteSetup/VeltraSuiteConsent.h"

namespace veltra {

// One installed, verified suite app. Its JSON form has the keys "bundleId", "name", "path".
struct VeltraInstalledApp {
  std::string bundleId;
  std::string name;
  std::string path;  // absolute, no trailing "/"

  // {"bundleId":…,"name":…,"path":…}, compact.
  std::string encoded() const;
  // Requires the three keys as strings, ignores others; throws DecodingError.
  static VeltraInstalledApp decoded(std::string_view bytes);
};

// One installed app with the bundle that was checked for it, held open so that a launch starts
// what was checked.
struct CheckedInstalledApp {
  VeltraInstalledApp app;
  std::shared_ptr<const CheckedApp> checked;
};

// The absolute form of `path` (relative to the working directory) without "." components,
// repeated "/" or a trailing "/". Nothing is resolved: ".." and symbolic links stay as written.
// (The code-signature check resolves a path that runs through a link once, and makes one without
// a link lexically normal; discovery lists the path it checked.)
std::filesystem::path absolutePath(const std::filesystem::path& path);

// Whether `registry` is the suite's shared registry folder: its path ends with
// "VeltraIntegration/registry/v1". Every other folder runs isolated.
bool isIsolated(const std::filesystem::path& registry);

namespace VeltraSuiteSetup {

// The installed, verified catalogue apps in bundle-id order, one candidate location each: `local`
// at `appURL`; in isolated mode the others next to it; otherwise in the standard applications
// folder, else where the workspace finds them. Each path is the one the check resolved and
// checked (CheckedApp::path). Never throws. The overload without a platform uses
// VeltraPlatform::system().
std::vector<VeltraInstalledApp> installed(std::string_view local,
                                          const std::filesystem::path& appURL, bool isolated,
                                          VeltraPlatform& platform);
std::vector<VeltraInstalledApp> installed(std::string_view local,
                                          const std::filesystem::path& appURL, bool isolated);

// installed() with the checked bundles.
std::vector<CheckedInstalledApp> installedChecked(std::string_view local,
                                                  const std::filesystem::path& appURL,
                                                  bool isolated, VeltraPlatform& platform);

// The ids of `apps` sorted ascending and joined by "|".
std::string installedSetKey(const std::vector<VeltraInstalledApp>& apps);

}  // namespace VeltraSuiteSetup
}  // namespace veltra
