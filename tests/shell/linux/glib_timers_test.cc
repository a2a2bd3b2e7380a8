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

class GlibTimersTest : public ::testing::Test {
 protected:
  std::map<uint32_t, int> fired_;
  std::function<void(uint32_t)> onFire_;
  GlibTimers timers_{[this](uint32_t id) {
    ++fired_[id];
    if (onFire_) onFire_(id);
  }};
};

TEST_F(GlibTimersTest, RepeatsUntilItsHandlerKillsIt) {
  onFire_ = [this](uint32_t id) {
    if (fired_[id] == 3) timers_.kill(id);
  };
  timers_.set(1, 10);
  EXPECT_TRUE(timers_.isArmed(1));
  runFor(150);
  EXPECT_EQ(fired_[1], 3);
  EXPECT_FALSE(timers_.isArmed(1));
}

TEST_F(GlibTimersTest, ArmingAnArmedIdReplacesIt) {
  // Two sources for one id would fire twice as often.
  timers_.set(2, 20);
  timers_.set(2, 20);
  runFor(110);
  EXPECT_GE(fired_[2], 1);
  EXPECT_LE(fired_[2], 5);
  // A long period replaced by a short one takes the short one.
  timers_.set(3, 60000);
  timers_.set(3, 10);
  runFor(60);
  EXPECT_GE(fired_[3], 1);
}

TEST_F(GlibTimersTest, AHandlerMayReArmItsOwnTimerOrKillAnother) {
  onFire_ = [this](uint32_t id) {
    if (id == 4 && fired_[4] == 1) {
      timers_.set(4, 60000);  // from now on it waits a minute
      timers_.kill(5);
    }
  };
  timers_.set(4, 10);
  timers_.set(5, 50);
  runFor(120);
  EXPECT_EQ(fired_[4], 1);
  EXPECT_EQ(fired_.count(5), 0u);
  EXPECT_TRUE(timers_.isArmed(4));
  EXPECT_FALSE(timers_.isArmed(5));
  timers_.kill(99);  // an id never armed
}

TEST(GlibTimers, NothingFiresAfterTheTimersAreGone) {
  int fired = 0;
  {
    GlibTimers timers([&fired](uint32_t) { ++fired; });
    timers.set(1, 5);
    timers.set(2, 5);
  }
  runFor(40);
  EXPECT_EQ(fired, 0);
}

}  // namespace
}  // namespace varnholt_app
