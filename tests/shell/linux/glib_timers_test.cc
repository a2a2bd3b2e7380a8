#include "shell/linux/glib_timers.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace varnholt_app {
namespace {

// Runs the default main loop for `ms` milliseconds.
void runFor(unsigned ms) {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_timeout_add(ms, [](gpointer data) -> gboolean {
    g_main_loop_quit(static_cast<GMainLoop*>(data));
    return G_SOURCE_REMOVE;
  }, loop);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
}

TEST(GlibTimers, RepeatReplaceKillAndNothingAfterTheEnd) {
  std::map<uint32_t, int> fired;
  std::unique_ptr<GlibTimers> timers;
  timers = std::make_unique<GlibTimers>([&](uint32_t id) {
    if (++fired[id] == 3 && id == 1) timers->kill(1);  // it repeats until its handler kills it
    if (id == 4) timers->set(4, 60000), timers->kill(5);  // re-arms itself for a minute, kills another
  });
  for (const auto& [id, ms] : {std::pair{1u, 10u}, {4u, 10u}, {5u, 50u}, {2u, 20u}, {2u, 20u}, {3u, 60000u}, {3u, 10u}}) {
    timers->set(id, ms);  // arming an armed id replaces it
  }
  runFor(150);
  EXPECT_EQ(fired[1], 3);
  EXPECT_FALSE(timers->isArmed(1));
  EXPECT_LE(fired[2], 7);  // one source, not two
  EXPECT_GE(fired[3], 1);  // the short period
  EXPECT_EQ(fired[4], 1);
  EXPECT_EQ(fired.count(5), 0u);
  timers.reset();  // while 2, 3 and 4 are armed
  fired.clear();
  runFor(40);
  EXPECT_TRUE(fired.empty());
}

}  // namespace
}  // namespace varnholt_app
