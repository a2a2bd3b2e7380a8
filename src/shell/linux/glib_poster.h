#pragma once
// Posting to the main window on top of a GLib main loop: each post becomes
// a one-shot source on the UI thread's context, dispatched in post order.

#include <cstdint>
#include <functional>
#include <memory>

#include "base/window_poster.h"

typedef struct _GMainContext GMainContext;

namespace varnholt_app {

class GlibWindowPoster final : public WindowPoster {
 public:
  // Called on the thread that runs `context`.
  using Deliver = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
  // Frees the payload of a message that will never be delivered; may be
  // called on any thread.
  using Discard = void (*)(uint32_t message, intptr_t lParam);

  // `context` null means the default main context.
  GlibWindowPoster(GMainContext* context, Deliver deliver, Discard discard);
  ~GlibWindowPoster() override;
  GlibWindowPoster(const GlibWindowPoster&) = delete;
  GlibWindowPoster& operator=(const GlibWindowPoster&) = delete;

  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // The window is gone: later posts fail, and messages still queued are
  // discarded when their turn comes (or when the loop's context goes away).
  void close();
  bool isOpen() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace varnholt_app
