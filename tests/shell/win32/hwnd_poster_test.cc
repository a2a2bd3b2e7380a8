#include "shell/win32/hwnd_poster.h"

#include <gtest/gtest.h>

#include <thread>

namespace varnholt_app {
namespace {

bool takeMessage(HWND window, MSG& message) {
  return PeekMessageW(&message, window, WM_APP_FOLDER_CHANGED, WM_APP_OPEN_FILE, PM_REMOVE) != 0;
}

TEST(HwndPoster, DeliversFromAnyThreadUntilTheWindowClosesOrGoes) {
  // A message-only window: needs no display.
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  HwndPoster poster(window);
  bool fromThread = false;
  std::thread([&] { fromThread = poster.post(WM_APP_ANALYSIS_DONE, 7, 1234); }).join();
  EXPECT_TRUE(fromThread);
  MSG message{};
  ASSERT_TRUE(takeMessage(window, message));
  EXPECT_EQ(message.message, WM_APP_ANALYSIS_DONE);
  EXPECT_EQ(message.lParam, 1234);

  HwndPoster other(window);
  poster.close();
  EXPECT_FALSE(poster.post(WM_APP_FOLDER_CHANGED, 0, 0));
  EXPECT_FALSE(takeMessage(window, message));  // nothing reached the queue
  DestroyWindow(window);
  EXPECT_FALSE(other.post(WM_APP_FOLDER_CHANGED, 0, 0));
}

}  // namespace
}  // namespace varnholt_app
