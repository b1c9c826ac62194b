#include "VeltraSuiteSetup/linux/LinuxMainBundle.h"

#include "VeltraSuiteSetup/linux/LinuxWorkspace.h"

namespace veltra {
namespace {

RunningApplication self() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return applicationForExecutable(exe);
}

}  // namespace

std::optional<std::string> LinuxMainBundle::bundleIdentifier() { return self().bundleIdentifier; }

std::optional<std::filesystem::path> LinuxMainBundle::bundleURL() { return self().bundleURL; }

}  // namespace veltra
