#include "Connections.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"

namespace sorel {

namespace S = veltra::VeltraSuiteSetup;

std::vector<ConnectedApp> connectedApps(std::string_view local,
                                        const std::filesystem::path& registry) {
  veltra::VeltraPlatform& platform = veltra::VeltraPlatform::system();
  const auto bundle = platform.mainBundle.bundleURL();
  if (!bundle) return {};  // not running from a bundle: connected to nothing
  const bool isolated = veltra::isIsolated(registry);
  std::vector<ConnectedApp> apps;
  for (const veltra::VeltraInstalledApp& app :
       S::scan(local, *bundle, registry, {.isolated = isolated, .force = false, .canPrompt = false},
               platform)) {
    apps.push_back(
        {app.name, app.bundleId, S::isRunning(app.bundleId, app.path, isolated, platform)});
  }
  return apps;
}

std::filesystem::path sharedRegistry() {
  std::filesystem::path data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    data = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    data = std::filesystem::path(home) / ".local/share";
  } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) {
    data = std::filesystem::path(user->pw_dir) / ".local/share";
  }
  return data / "VeltraIntegration/registry/v1";
}

}  // namespace sorel
