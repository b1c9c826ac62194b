// KeyringSession: a private D-Bus session bus with GNOME Keyring's Secret Service on it (only the
// bus with `busOnly`), started by keyring-session.sh and made the session bus of this process
// (DBUS_SESSION_BUS_ADDRESS, and DISPLAY with `display`) for the object's lifetime.
//
//   if (!KeyringSession::available()) GTEST_SKIP() << "needs dbus-daemon, gnome-keyring ...";
//   KeyringSession session;
//   ASSERT_TRUE(session.started());
//   auto backend = SecretServiceKeychainBackend::connect();   // the private keyring
//   session.lock();
//
// GLib keeps one session connection per process: one session per test process.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <string>

#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

namespace pellow::testing {

class KeyringSession {
 public:
  // Whether the programs of a session are installed.
  static bool available() {
    return shell("command -v dbus-daemon gnome-keyring-daemon secret-tool").status == 0;
  }

  explicit KeyringSession(bool busOnly = false, bool display = false) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    testkit::EnvironmentChanges environment;
    if (display) environment["PELLOW_TEST_XVFB"] = "1";
    started_ = script(busOnly ? "start-bus" : "start", environment) == 0;
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
  // The session's bus and display for a child process.
  testkit::EnvironmentChanges helperEnvironment() const {
    testkit::EnvironmentChanges changes;
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY"}) {
      const auto it = environment_.find(name);
      changes[name] = it == environment_.end() ? std::nullopt : std::optional(it->second);
    }
    return changes;
  }

  void lock() { ASSERT_EQ(script("lock"), 0); }
  void unlock() {
    ASSERT_EQ(script("unlock"), 0);
    readEnvironment();
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
