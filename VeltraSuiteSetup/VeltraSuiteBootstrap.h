// Background reconcile for a suite application: every cycle (15 s), without ever asking the
// user, checks whether the consent file lets this application use at least one other installed
// suite app, and if so calls the application's `reconcile`.
//
//   auto bootstrap = veltra::VeltraSuiteBootstrap::create(postToGuiAndWait);
//   bootstrap->start("com.pemberhollo.sorel", registry, [] { refreshConnections(); });
//   ...
//   bootstrap->stop();
//
// Threads. The loop runs on one background thread of its own (there is no main actor here): each
// cycle calls scan with force and canPrompt false, so no alert can ever appear, and then hands
// `reconcile` to the executor given at creation, which runs it (for example by posting it to the
// application's GUI main loop) and returns once it has finished; without an executor `reconcile`
// runs on the loop's thread. Cycles never overlap: the next cycle's pause begins only after
// `reconcile` has returned. The pause is measured on CLOCK_BOOTTIME, so time the computer spends
// asleep counts, and stop() interrupts it at once. start() and stop() must be called from one
// thread at a time (the application's main thread); neither blocks.
//
// Ownership. Own the bootstrap through std::shared_ptr (create()). The loop holds it only weakly
// and keeps a strong reference just for the length of one cycle (pause included). Dropping the
// last owner does not cancel: the loop ends at the start of its next cycle, when it finds the
// object gone. A process may exit while a loop sleeps: the loop then ends without another cycle.
//
// Errors. start() never fails; it does nothing when a loop already runs, when the running
// application's bundle identifier is missing or differs from `local`, or when its bundle does not
// verify. Errors of scan are ignored (the next cycle tries again); an exception escaping
// `reconcile` or the executor is swallowed.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

class VeltraSuiteBootstrap : public std::enable_shared_from_this<VeltraSuiteBootstrap> {
 public:
  using Reconcile = std::function<void()>;
  // Runs the given call and returns once it has finished.
  using Executor = std::function<void(const std::function<void()>&)>;

  static constexpr std::chrono::nanoseconds kCycle = std::chrono::seconds(15);

  // `platform` must outlive every loop started on this object; `cycle` is for tests only.
  explicit VeltraSuiteBootstrap(Executor executor = {},
                                VeltraPlatform& platform = VeltraPlatform::system(),
                                std::chrono::nanoseconds cycle = kCycle);
  static std::shared_ptr<VeltraSuiteBootstrap> create(
      Executor executor = {}, VeltraPlatform& platform = VeltraPlatform::system(),
      std::chrono::nanoseconds cycle = kCycle);

  VeltraSuiteBootstrap(const VeltraSuiteBootstrap&) = delete;
  VeltraSuiteBootstrap& operator=(const VeltraSuiteBootstrap&) = delete;
  ~VeltraSuiteBootstrap();

  void start(const std::string& local, const std::filesystem::path& registry, Reconcile reconcile);
  // Cancels the loop, if any, and forgets it. The step under way (a scan or a reconcile) is
  // completed; no further reconcile starts. Returns at once.
  void stop();
  // Whether a loop has been started and not stopped.
  bool isRunning() const { return task_ != nullptr; }

  // Waits until the loop of the last start() has ended, at most `limit`; true if it has (or none
  // was started). For an application that tears down the services its loop uses. Never call it
  // from the loop's thread or while the executor waits on the calling thread.
  bool waitForLoopEnd(std::chrono::milliseconds limit);

  struct LoopState;

 private:
  Executor executor_;
  VeltraPlatform& platform_;
  std::chrono::nanoseconds cycle_;
  std::shared_ptr<LoopState> task_;  // the running loop; none before start and after stop
  std::shared_ptr<LoopState> last_;  // the most recent loop, for waitForLoopEnd
};

}  // namespace veltra
