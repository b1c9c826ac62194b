// The machine's clock: the wall clock for dates, CLOCK_BOOTTIME for waits.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "PellowGitHub/Clock.h"

namespace pellow {
namespace {

double continuousNow() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class SystemClock final : public Clock {
 public:
  Date now() override {
    const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    return Date::fromUnixSeconds(std::chrono::duration<double>(since1970).count());
  }

  void sleep(double seconds, const std::stop_token& stop) override {
    if (stop.stop_requested() || !(seconds > 0)) return;
    const double deadline = continuousNow() + seconds;
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    for (;;) {
      const double remaining = deadline - continuousNow();
      if (remaining <= 0) return;
      // The condition variable waits on the monotonic clock, which stops during suspend; short
      // slices re-read the continuous clock so that a suspended machine does not stretch the
      // wait.
      const double slice = std::min(remaining, 1.0);
      wakeUp.wait_for(lock, stop, std::chrono::duration<double>(slice), [] { return false; });
      if (stop.stop_requested()) return;
    }
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace pellow
