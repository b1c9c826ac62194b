// Background reconcile for a suite application: every cycle (15 s), without ever asking the
// user, checks whether the consent file lets this application use at least one other installed
// suite app, and if so calls the application's `reconcile`.
//
//   // A GUI application: reconcile runs on the GUI main loop, the loop thread waits for it.
//   auto bootstrap = veltra::VeltraSuiteBootstrap::create(postToMainLoopAndWait);
//   bootstrap->start("com.pemberhollo.sorel", registry, [&] { refreshConnections(); });
//   ...                                           // the application runs
//   bootstrap->stop();                            // on quitting, before main returns
//
// Threads. The loop runs on a background thread of its own (there is no main actor here): each
// cycle calls scan with force and canPrompt false, so no alert can ever appear, and then hands a
// call of `reconcile` to the executor given at creation, which runs it (for example by posting it
// to the application's GUI main loop) and returns once it has finished or been dropped; without
// an executor `reconcile` runs on the loop's thread. The pause is measured on CLOCK_BOOTTIME, so
// time the computer spends asleep counts, and stop() interrupts it at once.
//
// What is safe from where:
// - create(), start(), stop(), isRunning() and waitForLoopEnd() touch the object's own state
//   without a lock: call them from one thread at a time, normally the application's main thread.
//   start() and stop() never block; stop() may also be called from inside `reconcile`.
// - `reconcile` never overlaps itself: each call begins after the previous one has returned, also
//   across stop() and a new start() on the same object, and the next pause begins only after it.
// - After stop() has returned, no call of `reconcile` begins, not even one already handed to the
//   executor (the call checks first, on the executor's thread). A call that was under way when
//   stop() was called may still be running on another thread: waitForLoopEnd() waits for it.
// - The executor is called on the loop's thread and may block it for as long as it needs; it
//   runs the call it is given at most once and never after it has returned (it may drop the
//   call, for example once the application quits).
//
// Before the process exits (a return from main or exit()): call stop(). Then, if `reconcile` may
// run on another thread than the one that exits (no executor, or one that does not run calls on
// the exiting thread) and uses anything that exit destroys, also waitForLoopEnd(). Even without
// either, exit is safe for the library itself: a scan under way is completed before exit goes on
// to tear down OpenSSL and the library's statics, and a loop that finds the process exiting
// touches nothing more. Never call waitForLoopEnd() on the thread the executor waits on (the GUI
// thread) while a call may be queued there, nor from `reconcile`.
//
// Ownership. A bootstrap exists only as a std::shared_ptr (create(); there is no public
// constructor). The loop holds it only weakly and keeps a strong reference just for the length of
// one cycle (pause included). Dropping the last owner does not cancel: the loop ends at the start
// of its next cycle, when it finds the object gone.
//
// Errors. start() never throws; it does nothing when a loop already runs, when the running
// application's bundle identifier is missing or differs from `local`, when its bundle does not
// verify, or when the loop's thread or its wake-up descriptor cannot be made: isRunning() then
// stays false. A pause without a timer descriptor (out of descriptors) falls back to waits on
// the clock, so the loop keeps its pace. Errors of scan are ignored (the next cycle tries again);
// an exception escaping `reconcile` or the executor is swallowed.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

class VeltraSuiteBootstrap : public std::enable_shared_from_this<VeltraSuiteBootstrap> {
  struct Key {
    explicit Key() = default;
  };

 public:
  using Reconcile = std::function<void()>;
  // Runs the given call and returns once it has finished.
  using Executor = std::function<void(const std::function<void()>&)>;

  static constexpr std::chrono::nanoseconds kCycle = std::chrono::seconds(15);

  // A stopped bootstrap. `platform` must outlive every loop started on the object; `cycle` is the
  // pause between scans (kCycle unless a caller, such as a test, needs another pace).
  static std::shared_ptr<VeltraSuiteBootstrap> create(
      Executor executor = {}, VeltraPlatform& platform = VeltraPlatform::system(),
      std::chrono::nanoseconds cycle = kCycle);

  // For create() only (the key is private).
  VeltraSuiteBootstrap(Key, Executor executor, VeltraPlatform& platform,
                       std::chrono::nanoseconds cycle);
  VeltraSuiteBootstrap(const VeltraSuiteBootstrap&) = delete;
  VeltraSuiteBootstrap& operator=(const VeltraSuiteBootstrap&) = delete;
  ~VeltraSuiteBootstrap();

  void start(const std::string& local, const std::filesystem::path& registry, Reconcile reconcile);
  // Cancels the loop, if any, and forgets it. The step under way (a scan or a reconcile) is
  // completed; no further reconcile begins. Returns at once.
  void stop();
  // Whether a loop has been started and not stopped.
  bool isRunning() const { return task_ != nullptr; }

  // Waits until the loop of the last start() has ended, at most `limit`; true if it has (or none
  // was started). See above for where it must not be called.
  bool waitForLoopEnd(std::chrono::milliseconds limit);

  struct LoopState;
  struct CallGate;

 private:
  Executor executor_;
  VeltraPlatform& platform_;
  std::chrono::nanoseconds cycle_;
  std::shared_ptr<CallGate> gate_;   // lets one call of reconcile run at a time, across loops
  std::shared_ptr<LoopState> task_;  // the running loop; none before start and after stop
  std::shared_ptr<LoopState> last_;  // the most recent loop, for waitForLoopEnd
};

}  // namespace veltra
