// An example suite application: it starts the background reconcile for its own bundle and logs
// every reconcile call, then stops after a while.
//
// Environment (the app takes no arguments, as when the suite launches it):
//   VELTRA_EXAMPLE_LOCAL     its bundle id (default com.pemberhollo.sorel)
//   VELTRA_EXAMPLE_REGISTRY  the registry folder (required)
//   VELTRA_EXAMPLE_LOG       file to append log lines to (required)
//   VELTRA_EXAMPLE_CYCLE_MS  the cycle length in milliseconds (default 15000)
//   VELTRA_EXAMPLE_SECONDS   how long to run (default 60)
// Log lines: "start <monotonic ms>", "reconcile <monotonic ms>", "stop <monotonic ms>".

#include <chrono>
#include <cstdio>
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
  const std::string local = env("VELTRA_EXAMPLE_LOCAL", "com.pemberhollo.sorel");
  const std::string registry = env("VELTRA_EXAMPLE_REGISTRY", "");
  const std::string logPath = env("VELTRA_EXAMPLE_LOG", "");
  if (registry.empty() || logPath.empty()) return 2;
  const auto cycle = std::chrono::milliseconds(std::stoll(env("VELTRA_EXAMPLE_CYCLE_MS", "15000")));
  const auto lifetime = std::chrono::seconds(std::stoll(env("VELTRA_EXAMPLE_SECONDS", "60")));

  std::mutex logMutex;
  std::ofstream log(logPath, std::ios::app);
  auto line = [&](const std::string& what) {
    const std::lock_guard lock(logMutex);
    log << what << " " << nowMs() << std::endl;
  };

  auto bootstrap =
      veltra::VeltraSuiteBootstrap::create({}, veltra::VeltraPlatform::system(), cycle);
  line("start");
  bootstrap->start(local, registry, [&] { line("reconcile"); });
  std::this_thread::sleep_for(lifetime);
  bootstrap->stop();
  bootstrap->waitForLoopEnd(std::chrono::seconds(30));
  line("stop");
  return 0;
}
