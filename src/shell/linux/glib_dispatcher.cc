#include "shell/linux/glib_dispatcher.h"

#include <glib.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace varnholt_app {

struct GlibDispatcher::State {
  std::mutex mutex;
  bool open = true;
  GMainContext* context = nullptr;  // referenced while open; null: the default one
};

namespace {

struct Queued {
  std::shared_ptr<GlibDispatcher::State> state;
  Dispatcher::Task task;
  // GLib's own locking hands the record to the loop's thread, but
  // ThreadSanitizer cannot see into GLib: this pair of atomics shows it.
  std::atomic<bool> published{false};

  static Queued* received(gpointer data) {
    auto* queued = static_cast<Queued*>(data);
    (void)queued->published.load(std::memory_order_acquire);
    return queued;
  }
};

gboolean runQueued(gpointer data) {
  Queued* queued = Queued::received(data);
  bool open;
  {
    std::lock_guard<std::mutex> lock(queued->state->mutex);
    open = queued->state->open;
  }
  // Closed on this thread, so a task that passed the check runs before the
  // window is gone.
  if (open) queued->task();
  return G_SOURCE_REMOVE;
}

// Runs when the source is destroyed, run or not.
void freeQueued(gpointer data) { delete Queued::received(data); }

}  // namespace

GlibDispatcher::GlibDispatcher(GMainContext* context) : state_(std::make_shared<State>()) {
  state_->context = context != nullptr ? g_main_context_ref(context) : nullptr;
}

GlibDispatcher::~GlibDispatcher() { close(); }

bool GlibDispatcher::dispatch(Task task) {
  // Always through the queue, even on the UI thread (g_main_context_invoke
  // would run the task inline there).
  auto* queued = new Queued{state_, std::move(task)};
  queued->published.store(true, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->open) {
      GSource* source = g_idle_source_new();
      g_source_set_priority(source, G_PRIORITY_DEFAULT);
      g_source_set_callback(source, runQueued, queued, freeQueued);
      g_source_attach(source, state_->context);
      g_source_unref(source);
      return true;
    }
  }
  delete queued;  // outside the lock: what the task holds may take a while to free
  return false;
}

void GlibDispatcher::close() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->open = false;
  // Let the loop's context go with the window, even while a thread still
  // holds this dispatcher; its queued tasks are then freed with it.
  if (state_->context != nullptr) {
    g_main_context_unref(state_->context);
    state_->context = nullptr;
  }
}

bool GlibDispatcher::isOpen() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->open;
}

}  // namespace varnholt_app
