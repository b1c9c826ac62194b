// The application services the suite-setup operations use: running applications, the
// application registry, opening an app, the modal alert, the running process's own bundle and the
// code-signature check. Each is a small interface so that tests substitute in-memory fakes;
// VeltraPlatform::system() gives the real Linux services.
//
//   veltra::VeltraPlatform& platform = veltra::VeltraPlatform::system();
//   for (const auto& app : platform.workspace.runningApplications()) { ... }
//
// Implementations must be safe to call from any one thread at a time; the system services are
// also safe to call from several threads at once.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltra {

// One running process as the workspace sees it. Either field may be missing: a process of another
// user, or one whose executable is not inside a bundle, has neither.
struct RunningApplication {
  std::optional<std::string> bundleIdentifier;
  std::optional<std::filesystem::path> bundleURL;
};

struct OpenConfiguration {
  bool activates = false;                      // bring the opened app to the front
  bool createsNewApplicationInstance = false;  // start a new process even if one runs
};

// An app bundle that passed the code-signature check, held open as it was checked: opening it
// starts the very executable that was checked, whatever is renamed or replaced on disk meanwhile.
// Immutable; safe to share between threads.
class CheckedApp {
 public:
  virtual ~CheckedApp() = default;
  // The path that was checked: absolute, without trailing "/"; where the given path ran through a
  // symbolic link, its physical form. The same path serves the listing, the running test and the
  // launch.
  virtual const std::filesystem::path& path() const = 0;
  // The bundle's main executable (Contents/MacOS/<CFBundleExecutable>) open as it was hashed, or
  // -1 when the bundle names none. Owned by this object.
  virtual int executable() const = 0;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  // A current list on every call.
  virtual std::vector<RunningApplication> runningApplications() = 0;
  // The bundle that the system would launch for `bundleId`, or none.
  virtual std::optional<std::filesystem::path> urlForApplication(std::string_view bundleId) = 0;
  // Starts the checked app's executable without arguments and returns once it has started;
  // throws std::system_error (the exec or fork error; ENOEXEC without an executable) when it
  // cannot be started.
  virtual void openApplication(const CheckedApp& app, const OpenConfiguration& configuration) = 0;
  // Makes the process an accessory application (no Dock icon, no menu bar) where that means
  // anything.
  virtual void setAccessoryActivationPolicy() = 0;
};

// The first button's answer; the second button answers kAlertFirstButtonReturn + 1.
inline constexpr int kAlertFirstButtonReturn = 1000;

struct AlertContent {
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;  // in order; the first is the default
};

class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  // Brings the alert to the front and blocks until the user answers. Returns
  // kAlertFirstButtonReturn + index of the chosen button; any other value counts as declined.
  // Throws std::system_error when the alert cannot be shown at all.
  virtual int runModal(const AlertContent& alert) = 0;
};

// The running application's own bundle.
class MainBundle {
 public:
  virtual ~MainBundle() = default;
  virtual std::optional<std::string> bundleIdentifier() = 0;
  virtual std::optional<std::filesystem::path> bundleURL() = 0;
};

// The code-signature check of an app on disk (see VeltraSuiteSetup::verified).
class CodeVerifier {
 public:
  virtual ~CodeVerifier() = default;
  // The app at `url` when it is genuine for `bundleId`, held open as it was checked; nullptr
  // otherwise. Never throws.
  virtual std::shared_ptr<const CheckedApp> check(const std::filesystem::path& url,
                                                  std::string_view bundleId) = 0;
  // Whether check() finds the app genuine.
  bool verified(const std::filesystem::path& url, std::string_view bundleId) {
    return check(url, bundleId) != nullptr;
  }
};

struct VeltraPlatform {
  Workspace& workspace;
  AlertPresenter& alerts;
  MainBundle& mainBundle;
  CodeVerifier& verifier;
  std::filesystem::path applicationsFolder;  // the standard applications folder

  // The real services of this machine, built on first use; the applications folder is the one
  // configured at build time.
  static VeltraPlatform& system();
};

}  // namespace veltra
