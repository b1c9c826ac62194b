// Child processes for the dialog tests: started with an explicit environment, outputs to files,
// every wait bounded.
//
//   veltra::test::TestProcess xvfb({"/usr/bin/Xvfb", ...}, {.environment = env});
//   auto status = xvfb.waitFor(std::chrono::seconds(5));   // nullopt: still running
//
// The destructor ends a child that is still running (SIGTERM to its process group, SIGKILL
// after two seconds) and reaps it. Not thread-safe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltra::test {

using Environment = std::map<std::string, std::string>;

struct SpawnOptions {
  Environment environment;                // the child's whole environment
  std::filesystem::path stdoutPath = {};  // empty: /dev/null
  std::filesystem::path stderrPath = {};  // empty: /dev/null
  bool newSession = false;                // setsid(): no controlling terminal
  int inheritedFd = -1;                   // a descriptor the child keeps open under its own number
};

class TestProcess {
 public:
  // Throws std::system_error when the program cannot be started.
  TestProcess(const std::vector<std::string>& argv, SpawnOptions options);
  ~TestProcess();
  TestProcess(const TestProcess&) = delete;
  TestProcess& operator=(const TestProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The exit status (128 + signal for a killed child), or nullopt if it still runs at the end
  // of `limit`.
  std::optional<int> waitFor(std::chrono::milliseconds limit);
  // SIGTERM to the child's process group, SIGKILL after two seconds; returns the status.
  int stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs a program to its end, at most `limit`, and returns its status and standard output; a
// program still running then is killed and reported as status -1.
struct RunResult {
  int status = -1;
  std::string output;
};
RunResult runBounded(const std::vector<std::string>& argv, const Environment& environment,
                     std::chrono::milliseconds limit);

// Reads one line from `fd` within `limit` (used for the display number of Xvfb and the address
// of dbus-daemon). Throws std::runtime_error on timeout or end of input.
std::string readLineWithin(int fd, std::chrono::milliseconds limit);

}  // namespace veltra::test
