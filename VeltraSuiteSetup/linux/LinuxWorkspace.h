// The workspace services on Linux.
//
//   veltra::LinuxWorkspace workspace;
//   for (const auto& app : workspace.runningApplications()) ...   // from /proc, afresh each call
//   if (auto app = platform.verifier.check("/home/me/Applications/Sorel.app", id))
//     workspace.openApplication(*app, {.activates = false});
//
// - runningApplications(): one entry per process in /proc. A process of the user whose
//   executable is the main executable of a bundle (<X>.app/Contents/MacOS/<CFBundleExecutable>)
//   has that bundle as its bundle URL and the bundle's CFBundleIdentifier; processes of other
//   users, and executables outside a bundle, have neither.
// - urlForApplication(): the first bundle in $HOME/Applications (one level, byte order of the
//   names) whose Info.json names the identifier. HOME comes from the password database when unset
//   or relative.
// - openApplication(): fork, setsid, stdin/stdout/stderr on /dev/null, no other descriptor
//   inherited, working folder "/", exec (execveat with AT_EMPTY_PATH) of the checked app's
//   executable descriptor, the very file its check hashed, with no arguments, the environment
//   and umask this process started with (not what it set for itself since). A script keeps that
//   one descriptor open for its interpreter. Returns once the exec succeeded; throws
//   std::system_error with the fork or exec errno otherwise (ENOEXEC when the app has no
//   executable). The started process is reparented away at once, so no zombie remains. Without
//   createsNewApplicationInstance, a bundle that already runs is not started again. Nothing is
//   ever brought to the front.
// - setAccessoryActivationPolicy(): nothing to do here.
// Thread-safe: no member state.
#pragma once

#include "PellowSession/Session.h"
#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

class LinuxWorkspace final : public Workspace {
 public:
  // The application registry is <home>/Applications of `session` (copied).
  explicit LinuxWorkspace(const pellow::Session& session = pellow::Session::current())
      : home_(session.home) {}

  std::vector<RunningApplication> runningApplications() override;
  std::optional<std::filesystem::path> urlForApplication(std::string_view bundleId) override;
  void openApplication(const CheckedApp& app, const OpenConfiguration& configuration) override;
  void setAccessoryActivationPolicy() override {}

 private:
  std::filesystem::path home_;
};

// The running application for the executable `exe` (as /proc/<pid>/exe names it).
RunningApplication applicationForExecutable(const std::filesystem::path& exe);

}  // namespace veltra
