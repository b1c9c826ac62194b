// KeyringSession: a private D-Bus session bus with one Secret Service provider on it (GNOME
// Keyring or KeePassXC; only the bus with `busOnly`), started by keyring-session.sh and made the
// session bus of this process (DBUS_SESSION_BUS_ADDRESS, and DISPLAY where the session has one)
// for the object's lifetime.
//
//   if (!KeyringSession::available(KeyringProvider::keepassxc)) GTEST_SKIP() << "...";
//   KeyringSession session({.provider = KeyringProvider::keepassxc,
//                           .keepassxc = "UnlockBeforeSearch=false"});
//   ASSERT_TRUE(session.started());
//   auto backend = SecretServiceKeychainBackend::connect();   // the private keyring
//   session.lock();
//   EXPECT_EQ(session.windows(), windowsBefore);               // nothing new on its display
//
// GNOME Keyring gets a display only with `display`; KeePassXC always runs on its own Xvfb. GLib
// keeps one session connection per process: one session per test process.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

namespace pellow::testing {

enum class KeyringProvider { gnomeKeyring, keepassxc };

inline const char* nameOf(KeyringProvider provider) {
  return provider == KeyringProvider::keepassxc ? "keepassxc" : "gnome-keyring";
}

struct KeyringOptions {
  KeyringProvider provider = KeyringProvider::gnomeKeyring;
  bool busOnly = false;
  bool display = false;        // GNOME Keyring: an Xvfb display where a prompt would show
  std::string keepassxc = {};  // KeePassXC's [FdoSecrets] settings, "Name=value" words
};

class KeyringSession {
 public:
  // Whether the programs of a session with `provider` are installed.
  static bool available(KeyringProvider provider = KeyringProvider::gnomeKeyring) {
    const std::string programs = provider == KeyringProvider::keepassxc
                                     ? "keepassxc keepassxc-cli Xvfb xdotool"
                                     : "gnome-keyring-daemon";
    return shell("command -v dbus-daemon secret-tool gdbus " + programs).status == 0;
  }

  explicit KeyringSession(KeyringOptions options = {}) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    testkit::EnvironmentChanges environment{{"PELLOW_TEST_PROVIDER", nameOf(options.provider)},
                                            {"PELLOW_TEST_KEEPASSXC", options.keepassxc}};
    if (options.display) environment["PELLOW_TEST_XVFB"] = "1";
    started_ = script(options.busOnly ? "start-bus" : "start", environment) == 0;
    readEnvironment();
  }
  ~KeyringSession() {
    script("stop");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("DISPLAY");
  }
  KeyringSession(const KeyringSession&) = delete;
  KeyringSession& operator=(const KeyringSession&) = delete;

  bool started() const { return started_; }
  // A line of the session's env file: DBUS_SESSION_BUS_ADDRESS, PELLOW_TEST_KEYRING_PID, ...
  const std::string& value(const std::string& name) { return environment_[name]; }
  // The session's bus, display and runtime folder for a child process.
  testkit::EnvironmentChanges helperEnvironment() const {
    testkit::EnvironmentChanges changes;
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY"}) {
      const auto it = environment_.find(name);
      changes[name] = it == environment_.end() ? std::nullopt : std::optional(it->second);
    }
    changes["XDG_RUNTIME_DIR"] = runtimeFolder().string();
    changes["WAYLAND_DISPLAY"] = std::nullopt;
    return changes;
  }
  // The session's own runtime folder (private, without a "bus" socket in it).
  std::filesystem::path runtimeFolder() const { return folder_ / "run"; }

  void lock() { ASSERT_EQ(script("lock"), 0); }
  void unlock() {
    ASSERT_EQ(script("unlock"), 0);
    readEnvironment();
  }
  // The visible windows on the session's display, by id (titles change with the database's
  // state), each with its title.
  std::map<std::string, std::string> windows() const {
    std::map<std::string, std::string> windows;
    std::istringstream lines(testkit::run({PELLOW_KEYRING_SESSION, "windows", folder_.path()}).out);
    for (std::string line; std::getline(lines, line);) {
      const size_t space = line.find(' ');
      if (space != std::string::npos) windows[line.substr(0, space)] = line.substr(space + 1);
    }
    return windows;
  }
  // The titles of the windows in `now` that `before` did not have.
  static std::string newWindows(const std::map<std::string, std::string>& before,
                                const std::map<std::string, std::string>& now) {
    std::string titles;
    for (const auto& [id, title] : now) {
      if (!before.contains(id)) titles += title + "\n";
    }
    return titles;
  }
  // Stops (SIGSTOP) or resumes (SIGCONT) the bus daemon.
  void pauseBus(bool paused) {
    const int pid = std::stoi(environment_["PELLOW_TEST_BUS_PID"]);
    ASSERT_GT(pid, 1);
    ASSERT_EQ(::kill(pid, paused ? SIGSTOP : SIGCONT), 0);
  }

  // The keyring's own view: items with the service attribute, and their labels.
  int itemCount(const std::string& service = std::string(config::kKeychainService)) const {
    const std::string out = shell("secret-tool search --all service '" + service + "' 2>&1").out;
    int count = 0;
    for (size_t at = 0; (at = out.find("\n[/", at)) != std::string::npos; ++at) ++count;
    if (out.rfind("[/", 0) == 0) ++count;
    return count;
  }
  std::string labels(const std::string& service = std::string(config::kKeychainService)) const {
    return shell("secret-tool search --all service '" + service + "' 2>&1 | grep '^label'").out;
  }

  static testkit::ProcessResult shell(const std::string& command) {
    return testkit::run({"/bin/sh", "-c", command});
  }

 private:
  int script(const char* action, testkit::EnvironmentChanges environment = {}) const {
    return testkit::run({PELLOW_KEYRING_SESSION, action, folder_.path()},
                        {.environment = std::move(environment)})
        .status;
  }
  void readEnvironment() {
    std::ifstream in(folder_ / "env");
    for (std::string line; std::getline(in, line);) {
      const size_t equals = line.find('=');
      if (equals != std::string::npos) {
        environment_[line.substr(0, equals)] = line.substr(equals + 1);
      }
    }
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY"}) {
      if (environment_.contains(name)) ::setenv(name, environment_[name].c_str(), 1);
    }
  }

  testkit::TemporaryFolder folder_;
  bool started_ = false;
  std::map<std::string, std::string> environment_;
};

}  // namespace pellow::testing
