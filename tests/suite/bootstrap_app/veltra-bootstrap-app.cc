// A minimal suite application for the background-reconcile tests: it starts the bootstrap for its
// own bundle, logs every reconcile call, and after a while either stops it as an application
// should, or leaves at once without stopping (to test an exit while a cycle is under way).
//
// Environment (the app takes no arguments, as when the suite launches it):
//   VELTRA_PROBE_LOCAL     its bundle id (default com.pemberhollo.sorel)
//   VELTRA_PROBE_REGISTRY  the registry folder (required)
//   VELTRA_PROBE_LOG       file to append log lines to (required unless leaving early)
//   VELTRA_PROBE_CYCLE_MS  the cycle length in milliseconds (default 15000)
//   VELTRA_PROBE_SECONDS   how long to run before stopping (default 60)
//   VELTRA_PROBE_LEAVE_US  instead: leave this many microseconds after start() without stop()
//   VELTRA_PROBE_LEAVE_BY  how to leave: "return" from main (default), "exit" from a thread, or
//                          "fork": a forked child calls exit() (its status is the app's; 3 when
//                          it has not ended within 5 s)
// Log lines: "start <monotonic ms>", "reconcile <monotonic ms>", "stop <monotonic ms>".

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "VeltraSuiteSetup/VeltraSuiteBootstrap.h"

namespace {

std::string env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int main() {
  const std::string local = env("VELTRA_PROBE_LOCAL", "com.pemberhollo.sorel");
  const std::string registry = env("VELTRA_PROBE_REGISTRY", "");
  const std::string logPath = env("VELTRA_PROBE_LOG", "");
  const std::string leaveAfter = env("VELTRA_PROBE_LEAVE_US", "");
  if (registry.empty() || (logPath.empty() && leaveAfter.empty())) return 2;
  const auto cycle = std::chrono::milliseconds(std::stoll(env("VELTRA_PROBE_CYCLE_MS", "15000")));

  auto bootstrap =
      veltra::VeltraSuiteBootstrap::create({}, veltra::VeltraPlatform::system(), cycle);

  if (!leaveAfter.empty()) {
    // The bootstrap stays owned by main's frame and is never stopped: the process ends while
    // its loop is somewhere in a cycle.
    bootstrap->start(local, registry, [] {});
    std::this_thread::sleep_for(std::chrono::microseconds(std::stoll(leaveAfter)));
    const std::string how = env("VELTRA_PROBE_LEAVE_BY", "return");
    if (how == "exit") {
      std::thread([] { std::exit(0); }).detach();
      std::this_thread::sleep_for(std::chrono::seconds(30));
    } else if (how == "fork") {
      const pid_t child = ::fork();
      if (child == 0) std::exit(0);
      for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
          return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
      return 3;
    }
    return 0;
  }

  std::mutex logMutex;
  std::ofstream log(logPath, std::ios::app);
  auto line = [&](const std::string& what) {
    const std::lock_guard lock(logMutex);
    log << what << " " << nowMs() << std::endl;
  };
  line("start");
  bootstrap->start(local, registry, [&] { line("reconcile"); });
  std::this_thread::sleep_for(std::chrono::seconds(std::stoll(env("VELTRA_PROBE_SECONDS", "60"))));
  bootstrap->stop();
  bootstrap->waitForLoopEnd(std::chrono::seconds(30));
  line("stop");
  return 0;
}
