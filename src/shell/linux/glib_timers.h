#pragma once
// Window timers by id on a GLib main loop: one repeating source per id,
// arming an armed id replaces its source.

#include <cstdint>
#include <functional>
#include <map>

namespace varnholt_app {

class GlibTimers {
 public:
  // Called on the loop's thread at each expiry; it may set or kill any
  // timer, including the one that fired.
  explicit GlibTimers(std::function<void(uint32_t id)> onExpiry);
  ~GlibTimers();
  GlibTimers(const GlibTimers&) = delete;
  GlibTimers& operator=(const GlibTimers&) = delete;

  void set(uint32_t id, uint32_t periodMs);
  void kill(uint32_t id);
  bool isArmed(uint32_t id) const { return sources_.count(id) != 0; }

 private:
  static int onSource(void* data);

  std::function<void(uint32_t)> onExpiry_;
  std::map<uint32_t, unsigned> sources_;  // timer id -> GLib source id
};

}  // namespace varnholt_app
