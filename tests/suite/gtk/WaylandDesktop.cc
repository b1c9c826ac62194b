#include "tests/suite/gtk/WaylandDesktop.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/support/TestFiles.h"
#include "tests/support/desktop/DesktopSession.h"

namespace veltra::test {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Account {
  uid_t uid;
  gid_t gid;
};

// The account the desktop runs as when this process is root.
Account unprivilegedAccount() {
  for (const char* name : {"pellow-test", "nobody"}) {
    if (const passwd* entry = ::getpwnam(name); entry != nullptr && entry->pw_uid != 0) {
      return {entry->pw_uid, entry->pw_gid};
    }
  }
  throw WaylandUnavailable("running as root, and neither \"pellow-test\" nor \"nobody\" exists");
}

// The program's argv, run as `account` when one is given (setpriv drops every privilege and
// then execs, so the process id is the program's own and stop() reaches it).
std::vector<std::string> runAs(const std::optional<Account>& account,
                               std::vector<std::string> argv) {
  if (!account) return argv;
  std::vector<std::string> wrapped{"setpriv", "--reuid=" + std::to_string(account->uid),
                                   "--regid=" + std::to_string(account->gid), "--clear-groups",
                                   "--"};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

std::string lastLines(const fs::path& log) {
  std::string text = testkit::readFile(log);
  if (text.size() > 600) text = "..." + text.substr(text.size() - 600);
  return text;
}

bool isSocket(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// The compositor's home: a folder of its own outside the test's private folder, which the
// unprivileged account could not enter.
fs::path makeHome(const std::optional<Account>& account) {
  // Under /tmp when the account is another: a TMPDIR of this user's may be closed to it.
  const fs::path parent = account ? fs::path("/tmp") : fs::temp_directory_path();
  std::string pattern = (parent / "pellow-wayland-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw WaylandUnavailable("mkdtemp failed");
  const fs::path home = pattern;
  fs::create_directories(home / "run");
  fs::permissions(home / "run", fs::perms::owner_all);
  if (account) {
    for (const fs::path& path : {home, home / "run"}) {
      if (::chown(path.c_str(), account->uid, account->gid) != 0) {
        throw WaylandUnavailable("cannot give " + path.string() + " to the unprivileged account");
      }
    }
  }
  return home;
}

}  // namespace

WaylandDesktop::WaylandDesktop(Compositor compositor, const fs::path& folder)
    : compositor_(compositor) {
  if (compositor == Compositor::sway && (std::string_view(VELTRA_TEST_SWAYMSG).empty() ||
                                         std::string_view(VELTRA_TEST_GRIM).empty())) {
    throw WaylandUnavailable("swaymsg or grim is not installed");
  }
  const bool root = ::geteuid() == 0;
  std::optional<Account> account;
  if (compositor == Compositor::sway && root) account = unprivilegedAccount();
  home_ = makeHome(account);
  runtime_ = home_ / "run";
  fs::create_directories(folder);

  testkit::EnvironmentChanges env{{"PATH", "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"},
                                  {"HOME", home_.string()},
                                  {"XDG_RUNTIME_DIR", runtime_.string()},
                                  {"GSETTINGS_BACKEND", "memory"},
                                  {"LANG", "C.UTF-8"}};
  // The session bus admits only its owner; the test and the helper under test (root) are let in
  // as on a real desktop's bus, where a user's own programs are (the accessibility bus that it
  // activates admits root by itself).
  const fs::path busConfig = home_ / "session-bus.conf";
  testkit::writeFile(busConfig,
                     "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig>\n  <include>/usr/share/dbus-1/session.conf</include>\n"
                     "  <policy context=\"default\"><allow user=\"root\"/></policy>\n"
                     "</busconfig>\n",
                     0644);
  bus_ = std::make_unique<testkit::ChildProcess>(
      runAs(account, {VELTRA_TEST_DBUS_DAEMON, "--config-file=" + busConfig.string(), "--nofork",
                      "--nopidfile", "--print-address=1",
                      "--address=unix:path=" + (runtime_ / "bus").string()}),
      testkit::ProcessOptions{
          .environment = env, .cleanEnvironment = true, .errorLog = folder / "dbus.log"});
  busAddress_ = bus_->readLine(15s);
  if (busAddress_.empty())
    throw WaylandUnavailable("no session bus: " + lastLines(folder / "dbus.log"));
  env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;

  std::vector<std::string> argv;
  const std::string program =
      compositor == Compositor::sway ? VELTRA_TEST_SWAY : VELTRA_TEST_WESTON;
  if (program.empty()) {
    throw WaylandUnavailable(compositor == Compositor::sway ? "sway is not installed"
                                                            : "weston is not installed");
  }
  if (compositor == Compositor::sway) {
    // No Xwayland: the dialog must come up through GTK's Wayland backend or not at all.
    const fs::path config = home_ / "config";
    testkit::writeFile(config, "xwayland disable\noutput HEADLESS-1 resolution 1024x768\n", 0644);
    argv = {VELTRA_TEST_SWAY, "-c", config.string()};
    env["WLR_BACKENDS"] = "headless";
    env["WLR_RENDERER"] = "pixman";
    env["WLR_LIBINPUT_NO_DEVICES"] = "1";
    socket_ = runtime_ / "wayland-1";
  } else {
    // Without pixman the headless backend draws nothing; --debug offers the screenshooter.
    argv = {VELTRA_TEST_WESTON, "--backend=headless-backend.so", "--use-pixman",  "--width=1024",
            "--height=768",     "--socket=pellow-weston",        "--idle-time=0", "--no-config",
            "--debug"};
    socket_ = runtime_ / "pellow-weston";
  }
  compositor_process_ = std::make_unique<testkit::ChildProcess>(
      runAs(account, argv),
      testkit::ProcessOptions{
          .environment = env, .cleanEnvironment = true, .errorLog = folder / "compositor.log"});
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!isSocket(socket_)) {
    if (compositor_process_->waitFor(100ms) || std::chrono::steady_clock::now() > deadline) {
      throw WaylandUnavailable("the compositor did not come up: " +
                               lastLines(folder / "compositor.log"));
    }
  }
}

WaylandDesktop::~WaylandDesktop() {
  // The bus first: the accessibility services it activated leave with it.
  if (bus_) bus_->stop();
  if (compositor_process_) compositor_process_->stop();
  std::error_code ignored;
  fs::remove_all(home_, ignored);
}

testkit::EnvironmentChanges WaylandDesktop::environment(const fs::path& folder) const {
  testkit::EnvironmentChanges env = headlessEnvironment(folder);
  env["WAYLAND_DISPLAY"] = socket_.string();
  env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
  return env;
}

std::string WaylandDesktop::swayTree() const {
  for (const auto& entry : fs::directory_iterator(runtime_)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("sway-ipc.")) continue;
    const testkit::ProcessResult tree = testkit::run(
        {VELTRA_TEST_SWAYMSG, "-s", entry.path().string(), "-t", "get_tree", "-r"}, {}, 10s);
    return tree.status == 0 ? tree.out : "";
  }
  return "";
}

std::string WaylandDesktop::screenshot(const fs::path& png) const {
  fs::create_directories(png.parent_path());
  testkit::EnvironmentChanges env = headlessEnvironment(png.parent_path() / ".screenshooter");
  env["WAYLAND_DISPLAY"] = socket_.string();
  if (compositor_ == Compositor::sway) {
    const testkit::ProcessResult shot = testkit::run(
        {VELTRA_TEST_GRIM, png.string()}, {.environment = env, .cleanEnvironment = true}, 20s);
    return shot.status == 0 ? "" : "grim: " + shot.err;
  }
  // weston-screenshooter writes wayland-screenshot-<time>.png into its working folder.
  const fs::path work = png.parent_path() / ".screenshooter";
  const testkit::ProcessResult shot =
      testkit::run({"/bin/sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", work.string(),
                    VELTRA_TEST_WESTON_SCREENSHOOTER},
                   {.environment = env, .cleanEnvironment = true}, 20s);
  if (shot.status != 0) return "weston-screenshooter: " + shot.err;
  for (const auto& entry : fs::directory_iterator(work)) {
    if (entry.path().extension() == ".png") {
      fs::rename(entry.path(), png);
      return "";
    }
  }
  return "weston-screenshooter wrote no PNG";
}

WaylandDesktop* programWaylandDesktop(Compositor compositor, const fs::path& logs,
                                      std::string& why) {
  static std::unique_ptr<WaylandDesktop> desktop;
  static std::string unavailable;
  static bool started = false;
  if (!started) {
    started = true;
    try {
      desktop = std::make_unique<WaylandDesktop>(compositor, logs);
      ::setenv("DBUS_SESSION_BUS_ADDRESS", desktop->busAddress().c_str(), 1);
      ::unsetenv("DISPLAY");
    } catch (const std::exception& error) {
      // Also a tool that cannot be started (ChildProcess): the desktop's, not the helper's fault.
      unavailable = error.what();
    }
  }
  why = unavailable;
  return desktop.get();
}

}  // namespace veltra::test
