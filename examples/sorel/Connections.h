// The suite apps Sorel is connected to: the apps it may use now by the suite's consent file,
// each with whether a genuine copy runs.
//
//   std::vector<ConnectedApp> apps = connectedApps("com.pemberhollo.sorel", registry);
//
// Reads the disk and checks code signatures (tens of milliseconds for the six suite apps): call
// it where that may take its time. Never asks the user. Throws the suite-setup library's errors
// (std::system_error) when the consent file cannot be read.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sorel {

inline constexpr std::string_view kSorelBundleId = "com.pemberhollo.sorel";

struct ConnectedApp {
  std::string name;      // "Pellow"
  std::string bundleId;  // "com.pemberhollo.pellow"
  bool running = false;
};

std::vector<ConnectedApp> connectedApps(std::string_view local,
                                        const std::filesystem::path& registry);

// The registry folder that all suite apps of this user share:
// $XDG_DATA_HOME/VeltraIntegration/registry/v1, or ~/.local/share/... without XDG_DATA_HOME.
std::filesystem::path sharedRegistry();

}  // namespace sorel
