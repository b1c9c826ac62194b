// Clock: where the GitHub library reads the time and waits. One clock serves a whole run: the
// machine's in the helper, a fake in tests, so that expiry, renewal and the lock's deadline can
// be exercised without waiting.
//
//   Clock& clock = systemClock();
//   const Date deadline = clock.now() + 10.0;
//   while (!tryOnce()) {
//     if (!(clock.now() < deadline)) throw TimedOut();
//     clock.sleep(0.1, stop);
//     if (stop.stop_requested()) throw Cancelled();
//   }
#pragma once

#include <stop_token>

#include "PellowGitHub/GitHubDate.h"

namespace pellow {

class Clock {
 public:
  virtual ~Clock() = default;

  // The wall clock: the current date.
  virtual Date now() = 0;

  // Waits `seconds` (negative or NaN: not at all) on a clock that keeps counting while the
  // machine is suspended. Returns early, without throwing, once a stop is requested on `stop`,
  // before or during the wait: callers check `stop` afterwards. Blocks the calling thread.
  virtual void sleep(double seconds, const std::stop_token& stop) = 0;
};

// The machine's clock: the date from the system's wall clock, waits on CLOCK_BOOTTIME.
// Stateless and thread-safe; lives as long as the process.
Clock& systemClock();

}  // namespace pellow
