#include "tests/support/desktop/DesktopSession.h"

#include <cstdlib>
#include <memory>

#include "tests/support/TestFiles.h"

namespace veltra::test {
namespace fs = std::filesystem;
using std::chrono::seconds;

testkit::EnvironmentChanges headlessEnvironment(const fs::path& folder) {
  fs::create_directories(folder / "home");
  fs::create_directories(folder / "runtime");
  fs::permissions(folder / "runtime", fs::perms::owner_all);
  testkit::EnvironmentChanges env{{"PATH", "/usr/local/bin:/usr/bin:/bin"},
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
  testkit::EnvironmentChanges base = headlessEnvironment(folder_);
  server_ = std::make_unique<testkit::ChildProcess>(
      std::vector<std::string>{VELTRA_TEST_XVFB, "-displayfd", "1", "-screen", "0", "1024x768x24",
                               "-nolisten", "tcp", "-noreset"},
      testkit::ProcessOptions{
          .environment = base, .cleanEnvironment = true, .errorLog = folder_ / "xvfb.log"});
  display_ = ":" + server_->readLine(seconds(15));
  base["DISPLAY"] = display_;
  bus_ = std::make_unique<testkit::ChildProcess>(
      std::vector<std::string>{VELTRA_TEST_DBUS_DAEMON, "--session", "--nofork", "--nopidfile",
                               "--print-address=1"},
      testkit::ProcessOptions{
          .environment = base, .cleanEnvironment = true, .errorLog = folder_ / "dbus.log"});
  busAddress_ = bus_->readLine(seconds(15));
}

DesktopSession::~DesktopSession() {
  // The bus first: the accessibility services it activated leave with it.
  if (bus_) bus_->stop();
  if (server_) server_->stop();
}

testkit::EnvironmentChanges DesktopSession::environment() const {
  testkit::EnvironmentChanges env = headlessEnvironment(folder_);
  env["DISPLAY"] = display_;
  env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
  return env;
}

namespace {
std::unique_ptr<testkit::TemporaryFolder> programDesktopFolder;
std::unique_ptr<DesktopSession> programDesktop;
}  // namespace

void ProgramDesktop::start() {
  programDesktopFolder = std::make_unique<testkit::TemporaryFolder>();
  programDesktop = std::make_unique<DesktopSession>(programDesktopFolder->path());
  ::setenv("DISPLAY", programDesktop->display().c_str(), 1);
  ::setenv("DBUS_SESSION_BUS_ADDRESS", programDesktop->busAddress().c_str(), 1);
  ::unsetenv("WAYLAND_DISPLAY");
}

void ProgramDesktop::stop() {
  programDesktop.reset();
  programDesktopFolder.reset();
}

DesktopSession& ProgramDesktop::session() { return *programDesktop; }

}  // namespace veltra::test
