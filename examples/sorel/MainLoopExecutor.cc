#include "MainLoopExecutor.h"

#include <condition_variable>
#include <mutex>

namespace sorel {

struct MainLoopExecutor::State {
  GMainContext* context;
  std::mutex mutex;
  std::condition_variable changed;
  bool down = false;
};

// One call handed to the main loop. The call itself belongs to the waiting run(), which stays
// until the job is done or abandoned; the job outlives both (the main loop may dispatch it
// after run() has given up).
struct MainLoopExecutor::Job {
  std::shared_ptr<State> state;
  const std::function<void()>* call;
  bool running = false;
  bool done = false;
  bool abandoned = false;
};

MainLoopExecutor::MainLoopExecutor(GMainContext* context) : state_(std::make_shared<State>()) {
  state_->context = context != nullptr ? context : g_main_context_default();
}

void MainLoopExecutor::run(const std::function<void()>& call) const {
  auto job = std::make_shared<Job>(Job{state_, &call});
  {
    const std::lock_guard lock(state_->mutex);
    if (state_->down) return;
  }
  g_main_context_invoke_full(state_->context, G_PRIORITY_DEFAULT, &MainLoopExecutor::dispatch,
                             new std::shared_ptr<Job>(job), [](gpointer data) {
                               delete static_cast<std::shared_ptr<Job>*>(data);
                             });
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [&] { return job->done || (state_->down && !job->running); });
  job->abandoned = true;
}

void MainLoopExecutor::shutDown() const {
  {
    const std::lock_guard lock(state_->mutex);
    state_->down = true;
  }
  state_->changed.notify_all();
}

gboolean MainLoopExecutor::dispatch(gpointer data) {
  const std::shared_ptr<Job>& job = *static_cast<std::shared_ptr<Job>*>(data);
  State& state = *job->state;
  {
    const std::lock_guard lock(state.mutex);
    if (job->abandoned || state.down) return G_SOURCE_REMOVE;
    job->running = true;
  }
  (*job->call)();
  {
    const std::lock_guard lock(state.mutex);
    job->running = false;
    job->done = true;
  }
  state.changed.notify_all();
  return G_SOURCE_REMOVE;
}

}  // namespace sorel
