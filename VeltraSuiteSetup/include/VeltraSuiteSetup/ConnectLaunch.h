// Connect and launch: approving one pair of installed apps, starting a sibling app in the
// background, and telling whether a genuine copy of an app runs. Defined in ConnectLaunch.cc.
//
//   namespace S = veltra::VeltraSuiteSetup;
//   S::connectPair(local, "com.pemberhollo.sorel", appURL, registry, isolated);
//   S::launchDestination(local, "com.pemberhollo.sorel", appURL, registry, isolated);
//
// The overloads without a platform use VeltraPlatform::system(). Thread-safe when the platform's
// services are; the file is changed only through the consent store.
#pragma once

#include <filesystem>
#include <stop_token>
#include <string_view>

#include "VeltraSuiteSetup/Platform.h"

namespace veltra::VeltraSuiteSetup {

// Approves the pair after making sure both apps are installed and verified. Throws 260 when
// either is not; errors of approvePair otherwise. The file is changed only by the approval.
void connectPair(std::string_view local, std::string_view remote,
                 const std::filesystem::path& appURL, const std::filesystem::path& registry,
                 bool isolated, VeltraPlatform& platform);
void connectPair(std::string_view local, std::string_view remote,
                 const std::filesystem::path& appURL, const std::filesystem::path& registry,
                 bool isolated);

// Makes sure `remote` runs: throws 257 (same ids, outside the catalogue, removed or blocked
// pair), the store's errors, 260 (either app not installed and verified); returns when a
// verified copy runs (in isolated mode: the one next to the caller); otherwise opens it in the
// background (a new instance in isolated mode), starting the bundle exactly as discovery checked
// it, and passes the open error on. A stop requested
// on `stop` before the open throws std::system_error(ECANCELED) and opens nothing.
void launchDestination(std::string_view local, std::string_view remote,
                       const std::filesystem::path& appURL, const std::filesystem::path& registry,
                       bool isolated, VeltraPlatform& platform, std::stop_token stop = {});
void launchDestination(std::string_view local, std::string_view remote,
                       const std::filesystem::path& appURL, const std::filesystem::path& registry,
                       bool isolated);

// Whether a verified copy of `bundleId` runs; in isolated mode only one whose bundle is `path`
// counts, both compared with links resolved and "." and ".." removed. Reads a fresh
// running-application list.
bool isRunning(std::string_view bundleId, const std::filesystem::path& path, bool isolated,
               VeltraPlatform& platform);

}  // namespace veltra::VeltraSuiteSetup
