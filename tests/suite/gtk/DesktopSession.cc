#include "tests/suite/gtk/DesktopSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace veltra::test {
namespace fs = std::filesystem;
using std::chrono::seconds;

namespace {

// A pipe whose ends close themselves; the write end is handed to one child.
struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
  }
  void closeWrite() {
    ::close(write);
    write = -1;
  }
};

}  // namespace

Environment headlessEnvironment(const fs::path& folder) {
  fs::create_directories(folder / "home");
  fs::create_directories(folder / "runtime");
  fs::permissions(folder / "runtime", fs::perms::owner_all);
  Environment env{{"PATH", "/usr/local/bin:/usr/bin:/bin"},
                  {"HOME", (folder / "home").string()},
                  {"XDG_RUNTIME_DIR", (folder / "runtime").string()},
                  {"GSETTINGS_BACKEND", "memory"},
                  {"LANG", "C.UTF-8"}};
  // Sanitizer builds: GTK's one-time allocations are reported as leaks unless the caller turns
  // leak detection off for the programs under test, e.g. ASAN_OPTIONS=detect_leaks=0.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env[name] = value;
  }
  return env;
}

DesktopSession::DesktopSession(const fs::path& folder) : folder_(folder) {
  Environment base = headlessEnvironment(folder_);
  {
    Pipe ready;
    server_ = std::make_unique<TestProcess>(
        std::vector<std::string>{VELTRA_TEST_XVFB, "-displayfd", std::to_string(ready.write),
                                 "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
        SpawnOptions{
            .environment = base, .stderrPath = folder_ / "xvfb.log", .inheritedFd = ready.write});
    ready.closeWrite();
    display_ = ":" + readLineWithin(ready.read, seconds(15));
  }
  base["DISPLAY"] = display_;
  {
    Pipe ready;
    bus_ = std::make_unique<TestProcess>(
        std::vector<std::string>{VELTRA_TEST_DBUS_DAEMON, "--session", "--nofork", "--nopidfile",
                                 "--print-address=" + std::to_string(ready.write)},
        SpawnOptions{
            .environment = base, .stderrPath = folder_ / "dbus.log", .inheritedFd = ready.write});
    ready.closeWrite();
    busAddress_ = readLineWithin(ready.read, seconds(15));
  }
}

DesktopSession::~DesktopSession() {
  // The bus first: the accessibility services it activated leave with it.
  if (bus_) bus_->stop();
  if (server_) server_->stop();
}

Environment DesktopSession::environment() const {
  Environment env = headlessEnvironment(folder_);
  env["DISPLAY"] = display_;
  env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
  return env;
}

}  // namespace veltra::test
