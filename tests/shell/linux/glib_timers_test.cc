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
    ++fired[id];
    if (id == 1 && fired[1] == 3) timers->kill(1);  // repeats until its handler kills it
    if (id == 4 && fired[4] == 1) {  // re-arms itself for a minute and kills another
      timers->set(4, 60000);
      timers->kill(5);
    }
  });
  timers->set(1, 10);
  timers->set(4, 10);
  timers->set(5, 50);
  timers->set(2, 20);
  timers->set(2, 20);     // replaced, not doubled
  timers->set(3, 60000);
  timers->set(3, 10);     // the short period wins
  runFor(150);
  EXPECT_EQ(fired[1], 3);
  EXPECT_FALSE(timers->isArmed(1));
  EXPECT_LE(fired[2], 7);
  EXPECT_GE(fired[3], 1);
  EXPECT_EQ(fired[4], 1);
  EXPECT_EQ(fired.count(5), 0u);
  timers.reset();  // while 2, 3 and 4 are armed
  fired.clear();
  runFor(40);
  EXPECT_TRUE(fired.empty());
}

}  // namespace
}  // namespace varnholt_app
