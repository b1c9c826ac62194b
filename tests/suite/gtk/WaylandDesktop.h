// A private headless Wayland desktop for the dialog tests: a compositor (sway or weston) and a
// D-Bus session bus over which the accessibility bus is activated on demand.
//
//   veltra::test::WaylandDesktop desktop(veltra::test::Compositor::sway, folder);
//   auto env = desktop.environment(folder / "client");   // for the helper under test
//   desktop.screenshot(png);                              // sway: grim
//
// sway refuses to run as root: when this process is root, the bus and sway run as an
// unprivileged account ("pellow-test" when it exists, else "nobody"), in a folder of that
// account's own; the helper under test stays this process's user and reaches the compositor by
// the socket's absolute path (root may connect to any user's sockets and session bus). weston
// runs as this process's user.
//
// The constructor throws WaylandUnavailable, whose text says why, when the desktop cannot be
// started (callers skip with it). Everything started is stopped by the destructor. Not
// thread-safe.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "tests/support/ChildProcess.h"

namespace veltra::test {

enum class Compositor { sway, weston };

struct WaylandUnavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class WaylandDesktop {
 public:
  WaylandDesktop(Compositor compositor, const std::filesystem::path& folder);
  ~WaylandDesktop();
  WaylandDesktop(const WaylandDesktop&) = delete;
  WaylandDesktop& operator=(const WaylandDesktop&) = delete;

  const std::filesystem::path& socket() const { return socket_; }  // absolute
  const std::string& busAddress() const { return busAddress_; }

  // A complete environment for a client of this desktop (with cleanEnvironment), whose home and
  // private runtime folder are made under `folder`: no DISPLAY, WAYLAND_DISPLAY = the socket's
  // absolute path, the session bus, an in-memory settings backend.
  testkit::EnvironmentChanges environment(const std::filesystem::path& folder) const;

  // sway only: the JSON of `swaymsg -t get_tree`, "" when it cannot be had.
  std::string swayTree() const;

  // Saves the whole output as PNG (grim on sway, weston-screenshooter on weston). Returns the
  // tool's error output, "" on success.
  std::string screenshot(const std::filesystem::path& png) const;

 private:
  Compositor compositor_;
  std::filesystem::path home_;     // the compositor's home folder; removed by the destructor
  std::filesystem::path runtime_;  // its runtime folder, holding the sockets
  std::filesystem::path socket_;
  std::string busAddress_;
  std::unique_ptr<testkit::ChildProcess> bus_;
  std::unique_ptr<testkit::ChildProcess> compositor_process_;
};

// The desktop of a whole test program (see WaylandDialogFixture.h), started by the first call
// with its logs in `logs` and stopped when the program ends; null when it cannot start, and then
// `why` says why. Later calls return the first one's answer whatever they ask for.
WaylandDesktop* programWaylandDesktop(Compositor compositor, const std::filesystem::path& logs,
                                      std::string& why);

}  // namespace veltra::test
