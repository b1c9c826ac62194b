// The running process's own bundle on Linux: the bundle whose main executable is
// /proc/self/exe, read afresh on every call.
//
//   veltra::LinuxMainBundle bundle;
//   if (auto id = bundle.bundleIdentifier()) ...
//
// A process whose executable is not a bundle's main executable has neither identifier nor URL.
// Thread-safe.
#pragma once

#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

class LinuxMainBundle final : public MainBundle {
 public:
  std::optional<std::string> bundleIdentifier() override;
  std::optional<std::filesystem::path> bundleURL() override;
};

}  // namespace veltra
