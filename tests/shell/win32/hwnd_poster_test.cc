#include "shell/win32/hwnd_poster.h"

#include <gtest/gtest.h>

#include <thread>

namespace varnholt_app {
namespace {

// A message-only window: needs no display.
HWND createMessageWindow() {
  return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                         nullptr);
}

bool takeMessage(HWND window, MSG& message) {
  return PeekMessageW(&message, window, WM_APP_FOLDER_CHANGED, WM_APP_OPEN_FILE, PM_REMOVE) != 0;
}

TEST(HwndPoster, DeliversToTheWindowFromAnyThread) {
  HWND window = createMessageWindow();
  ASSERT_NE(window, nullptr);
  HwndPoster poster(window);
  EXPECT_TRUE(poster.post(WM_APP_ANALYSIS_DONE, 7, 1234));
  bool fromThread = false;
  std::thread([&] { fromThread = poster.post(WM_APP_FOLDER_CHANGED, 0, 0); }).join();
  EXPECT_TRUE(fromThread);

  MSG message{};
  ASSERT_TRUE(takeMessage(window, message));
  EXPECT_EQ(message.message, WM_APP_ANALYSIS_DONE);
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_EQ(message.lParam, 1234);
  ASSERT_TRUE(takeMessage(window, message));
  EXPECT_EQ(message.message, WM_APP_FOLDER_CHANGED);
  EXPECT_FALSE(takeMessage(window, message));
  DestroyWindow(window);
}

TEST(HwndPoster, FailsOnceTheWindowIsClosingOrGone) {
  HWND window = createMessageWindow();
  ASSERT_NE(window, nullptr);
  HwndPoster closing(window);
  closing.close();
  EXPECT_FALSE(closing.post(WM_APP_FOLDER_CHANGED, 0, 0));
  MSG message{};
  EXPECT_FALSE(takeMessage(window, message));  // nothing reached the queue

  HwndPoster gone(window);
  DestroyWindow(window);
  EXPECT_FALSE(gone.post(WM_APP_FOLDER_CHANGED, 0, 0));
  EXPECT_FALSE(HwndPoster(nullptr).post(WM_APP_FOLDER_CHANGED, 0, 0));
}

}  // namespace
}  // namespace varnholt_app
