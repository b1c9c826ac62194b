// A private desktop for the dialog tests: an Xvfb server on a display number it picks itself
// (-displayfd, so parallel tests never collide) and a D-Bus session bus, over which the
// accessibility bus is activated on demand. No window manager runs: a client's own focus and
// stacking requests take effect as they are.
//
//   veltra::test::DesktopSession desktop(folder);      // throws when it cannot start
//   auto env = desktop.environment();                   // DISPLAY, DBUS_SESSION_BUS_ADDRESS, ...
//
// Everything it started is stopped by the destructor. Not thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"

namespace veltra::test {

class DesktopSession {
 public:
  // `folder`: a private folder for the session's home, runtime folder and server logs.
  explicit DesktopSession(const std::filesystem::path& folder);
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  const std::string& display() const { return display_; }  // ":N"
  const std::string& busAddress() const { return busAddress_; }
  // A complete environment for programs on this desktop (with cleanEnvironment): PATH, HOME,
  // XDG_RUNTIME_DIR, DISPLAY, DBUS_SESSION_BUS_ADDRESS and an in-memory settings backend.
  testkit::EnvironmentChanges environment() const;

 private:
  std::filesystem::path folder_;
  std::string display_;
  std::string busAddress_;
  std::unique_ptr<testkit::ChildProcess> server_;
  std::unique_ptr<testkit::ChildProcess> bus_;
};

// The desktop of a whole test program, shared with the programs it starts: start() (from
// SetUpTestSuite) makes it and points this process's DISPLAY and session bus at it as well, for
// reading windows and the accessibility tree; stop() (from TearDownTestSuite) removes it.
class ProgramDesktop {
 public:
  static void start();
  static void stop();
  static DesktopSession& session();  // between start() and stop()
};

// The session environment without any display: what a helper started from a service or an SSH
// login without forwarding sees.
testkit::EnvironmentChanges headlessEnvironment(const std::filesystem::path& folder);

}  // namespace veltra::test
