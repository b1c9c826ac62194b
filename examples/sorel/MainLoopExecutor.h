// MainLoopExecutor: the executor Sorel gives VeltraSuiteBootstrap, so that `reconcile` runs on the
// GTK main loop (where all of Sorel's widgets live) while the bootstrap's thread waits for it.
//
//   MainLoopExecutor executor;                       // on the main thread, before the loop runs
//   auto bootstrap = veltra::VeltraSuiteBootstrap::create(
//       [executor](const std::function<void()>& call) { executor.run(call); });
//   ...
//   executor.shutDown();                             // when quitting, after bootstrap->stop()
//
// A cheap handle: copies share one state, so a copy held by the bootstrap's thread stays valid
// after the original has gone. run() is for any thread but the main loop's; shutDown() for the
// main loop's. After shutDown() nothing more runs and every waiting run() returns, so that the
// bootstrap's thread is never left waiting for a main loop that has ended.
#pragma once

#include <glib.h>

#include <functional>
#include <memory>

namespace sorel {

class MainLoopExecutor {
 public:
  // Runs calls on `context` (GLib's default main context, GTK's, when null).
  explicit MainLoopExecutor(GMainContext* context = nullptr);

  // Runs `call` on the main loop and returns once it has returned; returns without running it
  // when shutDown() comes first.
  void run(const std::function<void()>& call) const;

  // Drops every call not yet begun, now and later.
  void shutDown() const;

 private:
  struct State;
  struct Job;
  static gboolean dispatch(gpointer data);

  std::shared_ptr<State> state_;
};

}  // namespace sorel
