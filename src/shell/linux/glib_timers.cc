#include "shell/linux/glib_timers.h"

#include <glib.h>

#include <utility>

namespace varnholt_app {

namespace {

struct TimerTag {
  uint32_t id;
  const std::function<void(uint32_t)>* onExpiry;
};

void freeTimerTag(gpointer data) { delete static_cast<TimerTag*>(data); }

}  // namespace

GlibTimers::GlibTimers(std::function<void(uint32_t)> onExpiry) : onExpiry_(std::move(onExpiry)) {}

GlibTimers::~GlibTimers() {
  while (!sources_.empty()) kill(sources_.begin()->first);
}

int GlibTimers::onSource(void* data) {
  // The handler may kill or re-arm this very timer; GLib keeps `data` alive
  // until the dispatch returns, and a removed source is not called again.
  const auto* tag = static_cast<const TimerTag*>(data);
  (*tag->onExpiry)(tag->id);
  return G_SOURCE_CONTINUE;
}

void GlibTimers::set(uint32_t id, uint32_t periodMs) {
  kill(id);
  sources_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, periodMs, &GlibTimers::onSource,
                                    new TimerTag{id, &onExpiry_}, freeTimerTag);
}

void GlibTimers::kill(uint32_t id) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return;
  const unsigned source = it->second;
  sources_.erase(it);
  g_source_remove(source);
}

}  // namespace varnholt_app
