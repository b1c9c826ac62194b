// DeferredSignals: holds back the signals that end a process at a user's or a pipe's request
// (SIGINT, SIGTERM, SIGHUP and SIGPIPE) while a step runs that must not be cut in half, such as a
// renewal between spending the refresh token at GitHub and storing the credential that replaces
// it:
//
//   {
//     DeferredSignals deferred;      // blocked in this thread from here
//     renewed = refresh(stored);
//     keychain.save(renewed);
//   }                                // old mask back: a signal that came meanwhile acts now
//
// The constructor blocks the four signals in the calling thread (pthread_sigmask) and keeps the
// thread's previous mask; the destructor restores exactly that mask, so a signal that arrived in
// between is delivered then and does what it would have done (by default: ends the process).
// Threads started while the object lives inherit the blocked mask. SIGKILL and SIGSTOP cannot be
// blocked. Never throws; a failing pthread_sigmask leaves the mask as it was. Not copyable or
// movable: it belongs to the scope and the thread that made it.
#pragma once

#include <signal.h>

namespace pellow {

class DeferredSignals {
 public:
  DeferredSignals() noexcept;
  ~DeferredSignals();
  DeferredSignals(const DeferredSignals&) = delete;
  DeferredSignals& operator=(const DeferredSignals&) = delete;

 private:
  sigset_t previous_{};
  bool blocked_ = false;
};

}  // namespace pellow
