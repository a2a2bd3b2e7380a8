#include "shell/linux/glib_poster.h"

#include <glib.h>

#include <mutex>
#include <utility>

namespace varnholt_app {

struct GlibWindowPoster::State {
  std::mutex mutex;
  bool open = true;
  GMainContext* context = nullptr;  // referenced while open; null: the default one
  Deliver deliver;
  Discard discard = nullptr;
};

namespace {

struct Posted {
  std::shared_ptr<GlibWindowPoster::State> state;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  bool handled = false;
};

gboolean dispatchPosted(gpointer data) {
  auto* posted = static_cast<Posted*>(data);
  bool open;
  {
    std::lock_guard<std::mutex> lock(posted->state->mutex);
    open = posted->state->open;
  }
  posted->handled = true;
  if (open) {
    posted->state->deliver(posted->message, posted->wParam, posted->lParam);
  } else if (posted->state->discard != nullptr) {
    posted->state->discard(posted->message, posted->lParam);
  }
  return G_SOURCE_REMOVE;
}

// Runs when the source is destroyed, dispatched or not.
void freePosted(gpointer data) {
  auto* posted = static_cast<Posted*>(data);
  if (!posted->handled && posted->state->discard != nullptr) {
    posted->state->discard(posted->message, posted->lParam);
  }
  delete posted;
}

}  // namespace

GlibWindowPoster::GlibWindowPoster(GMainContext* context, Deliver deliver, Discard discard)
    : state_(std::make_shared<State>()) {
  state_->context = context != nullptr ? g_main_context_ref(context) : nullptr;
  state_->deliver = std::move(deliver);
  state_->discard = discard;
}

GlibWindowPoster::~GlibWindowPoster() { close(); }

bool GlibWindowPoster::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // Always through the queue, even on the UI thread, as PostMessage does
  // (g_main_context_invoke would run the handler inline there).
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->open) return false;
  auto* posted = new Posted{state_, message, wParam, lParam};
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, dispatchPosted, posted, freePosted);
  g_source_attach(source, state_->context);
  g_source_unref(source);
  return true;
}

void GlibWindowPoster::close() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->open = false;
  // Let the loop's context go with the window, even while a thread still
  // holds this poster; its queued messages are then freed with it.
  if (state_->context != nullptr) {
    g_main_context_unref(state_->context);
    state_->context = nullptr;
  }
}

bool GlibWindowPoster::isOpen() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->open;
}

}  // namespace varnholt_app
