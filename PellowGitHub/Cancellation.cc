#include "PellowGitHub/Cancellation.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace pellow {
namespace {

double continuousNow() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

void sleepOnContinuousClock(double seconds, const std::stop_token& stop) {
  throwIfCancelled(stop);
  if (!(seconds > 0)) return;
  const double deadline = continuousNow() + seconds;
  std::mutex mutex;
  std::condition_variable_any wakeUp;
  std::unique_lock lock(mutex);
  for (;;) {
    const double remaining = deadline - continuousNow();
    if (remaining <= 0) return;
    // The condition variable waits on the monotonic clock, which stops during suspend; short
    // slices re-read the continuous clock so that a suspended machine does not stretch the sleep.
    const double slice = std::min(remaining, 1.0);
    wakeUp.wait_for(lock, stop, std::chrono::duration<double>(slice), [] { return false; });
    throwIfCancelled(stop);
  }
}

}  // namespace pellow
