#pragma once
// The dispatcher on top of a GLib main loop: each task becomes a one-shot
// idle source on the UI thread's context, run in dispatch order.

#include <memory>

#include "base/dispatcher.h"

typedef struct _GMainContext GMainContext;

namespace varnholt_app {

class GlibDispatcher final : public Dispatcher {
 public:
  // `context` null means the default main context; tasks run on the thread
  // that runs it.
  explicit GlibDispatcher(GMainContext* context);
  ~GlibDispatcher() override;
  GlibDispatcher(const GlibDispatcher&) = delete;
  GlibDispatcher& operator=(const GlibDispatcher&) = delete;

  bool dispatch(Task task) override;

  // The window is gone: later dispatches fail, and tasks still queued are
  // destroyed unrun when their turn comes (or when the loop's context goes).
  void close();
  bool isOpen() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace varnholt_app
