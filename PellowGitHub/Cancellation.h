// Cancellation and waiting for the GitHub helper's few timed waits (the credential lock's retries,
// the device-flow polling loop).
//
// A wait is cancelled through a std::stop_token; a cancelled wait throws CancellationError. It is
// not a PellowError, so the command layer shows its generic message for it.
//
//   std::stop_source source;
//   sleepOnContinuousClock(0.1, source.get_token());   // throws CancellationError once stopped
#pragma once

#include <stdexcept>
#include <stop_token>

namespace pellow {

class CancellationError : public std::runtime_error {
 public:
  CancellationError() : std::runtime_error("cancelled") {}
};

// Throws CancellationError when `stop` has been requested.
inline void throwIfCancelled(const std::stop_token& stop) {
  if (stop.stop_requested()) throw CancellationError();
}

// Sleeps `seconds` (negative or NaN counts as 0) measured on the continuous clock
// (CLOCK_BOOTTIME: it keeps counting while the machine is suspended). Returns early only by
// throwing CancellationError, at once when `stop` is requested before or during the sleep.
// Blocks the calling thread; safe to call from any thread.
void sleepOnContinuousClock(double seconds, const std::stop_token& stop = {});

}  // namespace pellow
