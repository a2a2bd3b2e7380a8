#include "shell/win32/hwnd_dispatcher.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace varnholt_app {
namespace {

// Runs what is queued for `window`, as its window procedure would.
int pump(HWND window) {
  int handled = 0;
  for (MSG message{}; PeekMessageW(&message, window, 0, 0, PM_REMOVE);) {
    handled += HwndDispatcher::run(message.message, message.lParam) ? 1 : 0;
  }
  return handled;
}

TEST(HwndDispatcher, RunsTasksOnTheWindowsThreadUntilItClosesOrGoes) {
  // A message-only window: needs no display.
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  HwndDispatcher ui(window);
  const auto token = std::make_shared<int>(0);
  int ran = 0;
  bool fromThread = false;
  std::thread([&] { fromThread = ui.dispatch([&ran, token] { ++ran; }); }).join();
  EXPECT_TRUE(fromThread);
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(pump(window), 1);
  EXPECT_EQ(ran, 1);

  ASSERT_TRUE(ui.dispatch([&ran, token] { ++ran; }));
  HwndDispatcher other(window);
  ui.close();  // frees the queued task unrun
  EXPECT_FALSE(ui.dispatch([&ran, token] { ++ran; }));
  EXPECT_EQ(pump(window), 0);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(token.use_count(), 1);
  DestroyWindow(window);
  EXPECT_FALSE(other.dispatch([token] {}));
  EXPECT_EQ(token.use_count(), 1);
}

}  // namespace
}  // namespace varnholt_app
