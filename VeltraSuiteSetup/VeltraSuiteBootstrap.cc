#include "VeltraSuiteSetup/VeltraSuiteBootstrap.h"

#include <openssl/crypto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/Discovery.h"
#include "VeltraSuiteSetup/Scan.h"

namespace veltra {

using privatefiles::UniqueFd;

namespace {

// Process exit and the loops. exit() runs the atexit handlers and then destroys statics, and
// OpenSSL frees its global state in a handler of its own, while a loop's thread may be in the
// middle of a signature check. So exit first waits here until no loop is inside library code,
// and from then on no loop enters it again.
class ExitBarrier {
 public:
  // Registers the handler once, after everything that a scan uses and that exit destroys has
  // been built, so that it runs before all of that is torn down. False when it cannot be
  // registered (the loop must not run then).
  static bool prepare() {
    static const bool registered = [] {
      OPENSSL_init_crypto(0, nullptr);
      static_cast<void>(VeltraSuiteSetup::sortedCatalogueIds());
      // Builds the signature verifier with its trust store (an empty path verifies nothing).
      static_cast<void>(VeltraSuiteSetup::verified({}, VeltraSuiteSetup::sortedCatalogueIds()[0]));
      owner().store(::getpid());
      return std::atexit(atExit) == 0;
    }();
    return registered;
  }

  // Before library work: false once the process is exiting (then do nothing more at all).
  static bool enter() {
    const std::lock_guard lock(mutex());
    if (exiting()) return false;
    ++busy();
    return true;
  }
  // After it: false when the process began exiting meanwhile.
  static bool leave() {
    const std::lock_guard lock(mutex());
    if (--busy() == 0) idle().notify_all();
    return !exiting();
  }
  static bool processExiting() {
    const std::lock_guard lock(mutex());
    return exiting();
  }

  // What a loop does once the process is exiting: nothing, until the process is gone. Returning
  // would run the destructors of the loop's captures (the application's reconcile among them)
  // while exit tears the process down.
  [[noreturn]] static void park() {
    while (true) ::pause();
  }

 private:
  static void atExit() {
    // A child forked while a loop scanned inherits the count, and maybe the lock, but not the
    // loop: it has nothing to wait for.
    if (::getpid() != owner().load()) return;
    std::unique_lock lock(mutex());
    exiting() = true;
    idle().wait(lock, [] { return busy() == 0; });
  }
  // Function-local statics that are never destroyed: the handler and late loops use them after
  // every other static is gone.
  static std::mutex& mutex() {
    static auto* value = new std::mutex;
    return *value;
  }
  static std::condition_variable& idle() {
    static auto* value = new std::condition_variable;
    return *value;
  }
  static bool& exiting() {
    static bool value = false;
    return value;
  }
  static int& busy() {
    static int value = 0;
    return value;
  }
  static std::atomic<pid_t>& owner() {
    static std::atomic<pid_t> value{0};
    return value;
  }
};

std::chrono::nanoseconds bootTime() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

// One call of reconcile at a time for all loops of one bootstrap: a loop started right after
// stop() waits here until the old loop's call has returned.
struct VeltraSuiteBootstrap::CallGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool busy = false;
};

struct VeltraSuiteBootstrap::LoopState {
  explicit LoopState(std::shared_ptr<CallGate> callGate) : gate(std::move(callGate)) {}

  std::shared_ptr<CallGate> gate;
  std::atomic<bool> cancelled{false};  // written under gate->mutex
  UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  // Made once with the loop, so that a process short of descriptors later cannot stop it; none
  // when it could not be made, and the pause then waits on the clock.
  UniqueFd timer{::timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC)};
  std::mutex endMutex;
  std::condition_variable endedChanged;
  bool ended = false;

  void cancel() {
    {
      const std::lock_guard lock(gate->mutex);
      cancelled.store(true);
    }
    gate->changed.notify_all();
    const std::uint64_t one = 1;
    ssize_t ignored = ::write(wake.get(), &one, sizeof one);
    static_cast<void>(ignored);
  }

  // Sleeps for `duration` on CLOCK_BOOTTIME; false when cancelled meanwhile (or already).
  bool sleep(std::chrono::nanoseconds duration) {
    if (cancelled.load()) return false;
    if (timer && sleepOnTimer(duration)) return !cancelled.load();
    // Without a usable timer: poll's own timeout stops while the computer sleeps, so wait in
    // short steps and measure each time on CLOCK_BOOTTIME.
    const auto end = bootTime() + duration;
    while (true) {
      const auto left = end - bootTime();
      if (left <= std::chrono::nanoseconds(0)) return !cancelled.load();
      const auto step = std::min<std::chrono::nanoseconds>(left, std::chrono::seconds(1));
      const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(step).count());
      if (!waitForWake(ms)) return false;
    }
  }

  void markEnded() {
    const std::lock_guard lock(endMutex);
    ended = true;
    endedChanged.notify_all();
  }

 private:
  // True when the timer ran out or stop() woke us; false when the timer could not be used.
  bool sleepOnTimer(std::chrono::nanoseconds duration) {
    itimerspec when{};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    when.it_value.tv_sec = static_cast<time_t>(seconds.count());
    when.it_value.tv_nsec = static_cast<long>((duration - seconds).count());
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    if (::timerfd_settime(timer.get(), 0, &when, nullptr) != 0) return false;
    pollfd fds[2] = {{timer.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
    while (true) {
      const int ready = ::poll(fds, 2, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return false;
      if ((fds[1].revents & POLLIN) != 0 || cancelled.load()) return true;
      if ((fds[0].revents & POLLIN) != 0) {
        std::uint64_t expirations = 0;
        ssize_t ignored = ::read(timer.get(), &expirations, sizeof expirations);
        static_cast<void>(ignored);
        return true;
      }
    }
  }

  // Waits up to `ms` for stop(); false once cancelled.
  bool waitForWake(int ms) {
    pollfd fd{wake.get(), POLLIN, 0};
    const int ready = ::poll(&fd, 1, ms);
    if (ready < 0 && errno != EINTR) {
      // Not even the wake-up descriptor works: sleep plainly, stop() is seen at the next step.
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    return !cancelled.load();
  }
};

namespace {

struct Loop {
  std::weak_ptr<VeltraSuiteBootstrap> bootstrap;
  std::shared_ptr<VeltraSuiteBootstrap::LoopState> state;
  std::string local;
  std::filesystem::path registry;
  VeltraSuiteBootstrap::Reconcile reconcile;
  VeltraSuiteBootstrap::Executor executor;
  VeltraPlatform* platform;
  std::chrono::nanoseconds cycle;

  // The installed apps this application may use now; empty on any failure. Parks the thread
  // when the process began exiting.
  std::vector<VeltraInstalledApp> scan() {
    if (!ExitBarrier::enter()) ExitBarrier::park();
    std::vector<VeltraInstalledApp> apps;
    try {
      if (const auto appURL = platform->mainBundle.bundleURL()) {
        apps = VeltraSuiteSetup::scan(
            local, *appURL, registry,
            {.isolated = isIsolated(registry), .force = false, .canPrompt = false}, *platform);
      }
    } catch (...) {
      apps.clear();  // the next cycle tries again
    }
    if (!ExitBarrier::leave()) ExitBarrier::park();
    return apps;
  }

  // Calls reconcile once, after any call of an earlier loop has returned, unless stopped.
  void callReconcile() {
    VeltraSuiteBootstrap::CallGate& gate = *state->gate;
    {
      std::unique_lock lock(gate.mutex);
      gate.changed.wait(lock, [&] { return !gate.busy || state->cancelled.load(); });
      if (state->cancelled.load()) return;
      gate.busy = true;
    }
    // The check happens where the call runs: the executor may run it after stop() has returned.
    // Nothing may escape into the executor, which may be a C main loop.
    const auto call = [this, &gate]() noexcept {
      {
        const std::lock_guard lock(gate.mutex);
        if (state->cancelled.load()) return;
      }
      try {
        reconcile();
      } catch (...) {
      }
    };
    try {
      if (executor) {
        executor(call);
      } else {
        call();
      }
    } catch (...) {
    }
    {
      const std::lock_guard lock(gate.mutex);
      gate.busy = false;
    }
    gate.changed.notify_all();
  }

  void run() {
    while (!state->cancelled.load()) {
      const std::shared_ptr<VeltraSuiteBootstrap> self = bootstrap.lock();
      if (!self) break;
      if (!scan().empty()) callReconcile();
      if (ExitBarrier::processExiting()) ExitBarrier::park();
      if (!state->sleep(cycle)) break;
    }
    // The signature checks left per-thread OpenSSL state; free it now rather than in a
    // thread-exit handler that may not get to run before the process ends.
    if (!ExitBarrier::enter()) ExitBarrier::park();
    OPENSSL_thread_stop();
    ExitBarrier::leave();
    state->markEnded();
  }
};

}  // namespace

VeltraSuiteBootstrap::VeltraSuiteBootstrap(Key, Executor executor, VeltraPlatform& platform,
                                           std::chrono::nanoseconds cycle)
    : executor_(std::move(executor)),
      platform_(platform),
      cycle_(cycle),
      gate_(std::make_shared<CallGate>()) {}

std::shared_ptr<VeltraSuiteBootstrap> VeltraSuiteBootstrap::create(Executor executor,
                                                                   VeltraPlatform& platform,
                                                                   std::chrono::nanoseconds cycle) {
  return std::make_shared<VeltraSuiteBootstrap>(Key(), std::move(executor), platform, cycle);
}

// Dropping the last owner does not cancel the loop: it ends at its next cycle.
VeltraSuiteBootstrap::~VeltraSuiteBootstrap() = default;

void VeltraSuiteBootstrap::start(const std::string& local, const std::filesystem::path& registry,
                                 Reconcile reconcile) {
  if (task_) return;
  const auto identifier = platform_.mainBundle.bundleIdentifier();
  if (!identifier || *identifier != local) return;
  const auto bundle = platform_.mainBundle.bundleURL();
  if (!bundle || !platform_.verifier.verified(*bundle, local)) return;

  auto state = std::make_shared<LoopState>(gate_);
  if (!state->wake || !ExitBarrier::prepare()) return;
  try {
    std::thread([loop = Loop{weak_from_this(), state, local, registry, std::move(reconcile),
                             executor_, &platform_, cycle_}]() mutable {
      loop.run();
    }).detach();
  } catch (const std::system_error&) {
    return;  // no thread could be made: stay stopped, as for the other refusals
  }
  task_ = state;
  last_ = std::move(state);
}

void VeltraSuiteBootstrap::stop() {
  if (task_) task_->cancel();
  task_.reset();
}

bool VeltraSuiteBootstrap::waitForLoopEnd(std::chrono::milliseconds limit) {
  if (!last_) return true;
  std::unique_lock lock(last_->endMutex);
  return last_->endedChanged.wait_for(lock, limit, [this] { return last_->ended; });
}

}  // namespace veltra
