// Scan and the connection alert: the installed apps that the local app may use now, asking the
// user once per set of installed apps whether to connect the suite. Defined in Scan.cc.
//
//   namespace S = veltra::VeltraSuiteSetup;
//   const bool isolated = veltra::isIsolated(registry);
//   auto apps = S::scan(local, appURL, registry,
//                       {.isolated = isolated, .force = false, .canPrompt = true});
//
// Blocks in the alert until it is answered; call it where the alert may block (the helper's main
// thread). Processes and threads may scan at once: "prompt.lock" in ".suite-setup" lets one alert
// up per registry folder, and "state.lock" is only ever taken inside it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "VeltraSuiteSetup/Discovery.h"
#include "VeltraSuiteSetup/Platform.h"

namespace veltra::VeltraSuiteSetup {

struct ScanOptions {
  // Discovery and the running check look only next to the calling app; set it from
  // isIsolated(registry). Isolated unless told otherwise, as every registry but the shared one is.
  bool isolated = true;
  // Ask even when the suite is on or this set of apps was declined; an accepted answer then also
  // clears the blocked pairs.
  bool force = false;
  // May ask when neither the suite is on nor this set of apps has been declined.
  bool canPrompt = false;
};

// The installed apps (installed()) other than `local` that the stored record permits `local` to
// use, after asking when `options` say so (the order of checks is in Scan.cc). Gives an empty list
// when `local` itself is not installed and verified, when it is the only app, or at once when
// another process holds "prompt.lock". Throws the store's errors, 513 when "prompt.lock" cannot be
// opened, and the presenter's error when no alert can be shown (then nothing is recorded). The
// overload without a platform uses VeltraPlatform::system().
std::vector<VeltraInstalledApp> scan(std::string_view local, const std::filesystem::path& appURL,
                                     const std::filesystem::path& registry,
                                     const ScanOptions& options, VeltraPlatform& platform);
std::vector<VeltraInstalledApp> scan(std::string_view local, const std::filesystem::path& appURL,
                                     const std::filesystem::path& registry,
                                     const ScanOptions& options);

// The alert's informative text naming `others` in the given order.
std::string alertInformativeText(const std::vector<std::string>& others);

}  // namespace veltra::VeltraSuiteSetup
