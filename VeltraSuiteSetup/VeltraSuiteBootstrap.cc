#include "VeltraSuiteSetup/VeltraSuiteBootstrap.h"

#include <openssl/crypto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/Discovery.h"
#include "VeltraSuiteSetup/Scan.h"

namespace veltra {

using privatefiles::UniqueFd;

namespace {

// Set when the process starts exiting: a loop that wakes afterwards ends without touching the
// library's or OpenSSL's state, which exit is tearing down.
std::atomic<bool> processExiting{false};

void markProcessExiting() { processExiting.store(true); }

}  // namespace

struct VeltraSuiteBootstrap::LoopState {
  std::atomic<bool> cancelled{false};
  UniqueFd wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::mutex mutex;
  std::condition_variable endedChanged;
  bool ended = false;

  void cancel() {
    cancelled.store(true);
    const std::uint64_t one = 1;
    ssize_t ignored = ::write(wake.get(), &one, sizeof one);
    static_cast<void>(ignored);
  }

  // Sleeps for `duration` on CLOCK_BOOTTIME; false when cancelled meanwhile (or already).
  bool sleep(std::chrono::nanoseconds duration) {
    if (cancelled.load()) return false;
    const UniqueFd timer(::timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC));
    if (!timer) return false;
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
      if (ready < 0 || (fds[1].revents & POLLIN) != 0 || cancelled.load()) return false;
      if ((fds[0].revents & POLLIN) != 0) return !processExiting.load();
    }
  }

  void markEnded() {
    const std::lock_guard lock(mutex);
    ended = true;
    endedChanged.notify_all();
  }
};

namespace {

void runLoop(std::weak_ptr<VeltraSuiteBootstrap> weak,
             std::shared_ptr<VeltraSuiteBootstrap::LoopState> state, const std::string local,
             const std::filesystem::path registry, const VeltraSuiteBootstrap::Reconcile reconcile,
             const VeltraSuiteBootstrap::Executor executor, VeltraPlatform& platform,
             std::chrono::nanoseconds cycle) {
  while (!state->cancelled.load()) {
    const std::shared_ptr<VeltraSuiteBootstrap> self = weak.lock();
    if (!self) break;
    const bool isolated = isIsolated(registry);
    std::vector<VeltraInstalledApp> apps;
    try {
      if (const auto appURL = platform.mainBundle.bundleURL()) {
        apps = VeltraSuiteSetup::scan(local, *appURL, registry,
                                      {.isolated = isolated, .force = false, .canPrompt = false},
                                      platform);
      }
    } catch (...) {
      apps.clear();  // the next cycle tries again
    }
    if (!apps.empty()) {
      try {
        if (executor) {
          executor(reconcile);
        } else {
          reconcile();
        }
      } catch (...) {
      }
    }
    if (!state->sleep(cycle)) break;
  }
  // The signature checks left per-thread OpenSSL state; free it now rather than in a thread-exit
  // handler that may not get to run before the process ends.
  OPENSSL_thread_stop();
  state->markEnded();
}

}  // namespace

VeltraSuiteBootstrap::VeltraSuiteBootstrap(Executor executor, VeltraPlatform& platform,
                                           std::chrono::nanoseconds cycle)
    : executor_(std::move(executor)), platform_(platform), cycle_(cycle) {}

std::shared_ptr<VeltraSuiteBootstrap> VeltraSuiteBootstrap::create(Executor executor,
                                                                   VeltraPlatform& platform,
                                                                   std::chrono::nanoseconds cycle) {
  return std::make_shared<VeltraSuiteBootstrap>(std::move(executor), platform, cycle);
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

  auto state = std::make_shared<LoopState>();
  if (!state->wake) return;
  // Registered after the signature check has initialised OpenSSL, so that at exit it runs
  // before OpenSSL's own clean-up.
  static const bool registered = std::atexit(markProcessExiting) == 0;
  static_cast<void>(registered);
  try {
    std::thread(runLoop, weak_from_this(), state, local, registry, std::move(reconcile), executor_,
                std::ref(platform_), cycle_)
        .detach();
  } catch (const std::system_error&) {
    return;  // no thread could be made: stay stopped, silently, as for the other refusals
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
  std::unique_lock lock(last_->mutex);
  return last_->endedChanged.wait_for(lock, limit, [this] { return last_->ended; });
}

}  // namespace veltra
