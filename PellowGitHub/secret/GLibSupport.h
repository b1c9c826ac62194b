// Small GLib helpers of the Secret Service module: owning pointers for GLib objects, and
// AsyncDeadline, which runs one GIO-style asynchronous call to completion on the module's own
// main context with a time limit, so that no call can wait for a prompt or a stuck daemon.
//
//   AsyncDeadline deadline(context, budget);
//   GObjectPtr<GAsyncResult> result = deadline.await([](GCancellable* c, GAsyncReadyCallback cb,
//                                                       gpointer data) {
//     secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, c, cb, data);
//   });
//   if (!result) ...  // the budget ran out; the call was cancelled
//
// Single-threaded: the caller's thread iterates the context; GDBus's own worker thread only
// queues events on it.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <utility>

namespace pellow::secret {

struct GObjectUnref {
  void operator()(gpointer object) const noexcept {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* error) const noexcept {
    if (error != nullptr) g_error_free(error);
  }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GHashTableUnref {
  void operator()(GHashTable* table) const noexcept {
    if (table != nullptr) g_hash_table_unref(table);
  }
};
using GHashTablePtr = std::unique_ptr<GHashTable, GHashTableUnref>;

struct GVariantUnref {
  void operator()(GVariant* value) const noexcept {
    if (value != nullptr) g_variant_unref(value);
  }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

// A list of owned object references, as libsecret's searches return it.
struct GObjectListFree {
  void operator()(GList* list) const noexcept { g_list_free_full(list, g_object_unref); }
};
using GObjectListPtr = std::unique_ptr<GList, GObjectListFree>;

// Makes `context` the thread's default for the lifetime of this object, so that the callbacks
// of the calls started meanwhile are dispatched there and nowhere else.
class ThreadDefaultContext {
 public:
  explicit ThreadDefaultContext(GMainContext* context) : context_(context) {
    g_main_context_push_thread_default(context_);
  }
  ~ThreadDefaultContext() { g_main_context_pop_thread_default(context_); }
  ThreadDefaultContext(const ThreadDefaultContext&) = delete;
  ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;

 private:
  GMainContext* context_;
};

// A time budget in microseconds of the monotonic clock, shared by several calls.
class TimeBudget {
 public:
  explicit TimeBudget(std::int64_t microseconds) : left_(microseconds) {}
  std::int64_t left() const { return left_ > 0 ? left_ : 0; }
  void spend(std::int64_t microseconds) { left_ -= microseconds; }

 private:
  std::int64_t left_;
};

// Iterates `context` until `done` becomes true or `microseconds` have passed; returns `done`.
inline bool iterateUntil(GMainContext* context, const bool& done, std::int64_t microseconds) {
  if (done) return true;
  bool expired = microseconds <= 0;
  GSource* timer = g_timeout_source_new(static_cast<guint>((microseconds + 999) / 1000));
  g_source_set_callback(
      timer,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &expired, nullptr);
  g_source_attach(timer, context);
  while (!done && !expired) g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
  return done;
}

// iterateUntil() within what is left of `budget`, which pays for the time spent.
inline bool iterateUntil(GMainContext* context, const bool& done, TimeBudget& budget) {
  const std::int64_t began = g_get_monotonic_time();
  const bool finished = iterateUntil(context, done, budget.left());
  budget.spend(g_get_monotonic_time() - began);
  return finished;
}

class AsyncDeadline {
 public:
  AsyncDeadline(GMainContext* context, TimeBudget& budget) : context_(context), budget_(budget) {}

  // Starts the call through `start(cancellable, callback, user_data)` and iterates the context
  // until it completes. Returns its result, or null when the budget ran out first: the call is
  // then cancelled, and abandoned if even that does not complete it promptly.
  template <typename Start>
  GObjectPtr<GAsyncResult> await(Start start) {
    auto* pending = new Pending();
    GObjectPtr<GCancellable> cancellable(g_cancellable_new());
    const std::int64_t began = g_get_monotonic_time();
    start(cancellable.get(), &Pending::finished, pending);

    iterateUntilDone(*pending, budget_.left());
    if (!pending->done) {
      g_cancellable_cancel(cancellable.get());
      iterateUntilDone(*pending, kCancelGrace);
    }
    budget_.spend(g_get_monotonic_time() - began);
    if (!pending->done) {
      pending->abandoned = true;  // the callback frees the record whenever it comes
      return nullptr;
    }
    GObjectPtr<GAsyncResult> result(std::exchange(pending->result, nullptr));
    const bool timedOut = pending->timedOut;
    delete pending;
    if (timedOut) return nullptr;  // completed only by the cancellation
    return result;
  }

 private:
  static constexpr std::int64_t kCancelGrace = 500 * 1000;

  struct Pending {
    GAsyncResult* result = nullptr;
    bool done = false;
    bool timedOut = false;
    bool abandoned = false;

    ~Pending() {
      if (result != nullptr) g_object_unref(result);
    }

    static void finished(GObject*, GAsyncResult* result, gpointer data) {
      auto* self = static_cast<Pending*>(data);
      if (self->abandoned) {
        delete self;
        return;
      }
      self->result = G_ASYNC_RESULT(g_object_ref(result));
      self->done = true;
    }
  };

  void iterateUntilDone(Pending& pending, std::int64_t microseconds) {
    if (!iterateUntil(context_, pending.done, microseconds)) pending.timedOut = true;
  }

  GMainContext* context_;
  TimeBudget& budget_;
};

}  // namespace pellow::secret
