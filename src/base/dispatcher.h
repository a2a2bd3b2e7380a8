#pragma once
// The one way a background thread hands work to the UI thread.

#include <functional>

namespace varnholt_app {

// Runs closures on the UI thread. Implementations are thread-safe and stay
// valid after the window is gone (dispatches then fail).
class Dispatcher {
 public:
  using Task = std::function<void()>;

  virtual ~Dispatcher() = default;
  // Queues `task` to run on the UI thread after the current handler returns,
  // in the order of the calls. False when the window is gone. A task that
  // never runs is destroyed unrun, on whichever thread drops it, so what it
  // captures is freed either way.
  virtual bool dispatch(Task task) = 0;
};

}  // namespace varnholt_app
