#include "PellowGitHub/support/DeferredSignals.h"

#include <pthread.h>

#include <initializer_list>

namespace pellow {

DeferredSignals::DeferredSignals() noexcept {
  sigset_t deferred;
  sigemptyset(&deferred);
  // Ctrl-C reaches git's whole foreground group, the helper included; a closed terminal or a
  // logout sends SIGHUP, a session manager SIGTERM, and a reader that went away SIGPIPE.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&deferred, signal);
  blocked_ = ::pthread_sigmask(SIG_BLOCK, &deferred, &previous_) == 0;
}

DeferredSignals::~DeferredSignals() {
  if (blocked_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace pellow
