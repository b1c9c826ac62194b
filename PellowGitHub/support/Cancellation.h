// Cancellation of the GitHub helper's few timed waits (the credential lock's retries, the
// device-flow polling loop). A wait is cancelled through a std::stop_token; the waiting operation
// then throws CancellationError. It is not a PellowError, so the command layer shows its generic
// message for it.
//
//   clock.sleep(0.1, stop);    // returns early once a stop is requested
//   throwIfCancelled(stop);    // ... and this ends the operation
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

}  // namespace pellow
