#include "shell/linux/glib_poster.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace varnholt_app {
namespace {

// Payloads are heap strings; the discard hook frees and counts them.
std::atomic<int> discarded{0};
intptr_t heapString(const std::string& text) { return reinterpret_cast<intptr_t>(new std::string(text)); }

struct Window {
  GMainContext* context = g_main_context_new();
  std::vector<std::string> received;
  std::function<void()> onDeliver;
  std::shared_ptr<GlibWindowPoster> poster = std::make_shared<GlibWindowPoster>(
      context,
      [this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
        received.push_back(std::to_string(message) + ":" + std::to_string(wParam) + ":" + (text ? *text : ""));
        if (onDeliver) onDeliver();
      },
      [](uint32_t, intptr_t lParam) { delete reinterpret_cast<std::string*>(lParam), ++discarded; });
  Window() { discarded = 0; }
  ~Window() {
    poster.reset();
    if (context != nullptr) g_main_context_unref(context);
  }
  void pump() {
    while (g_main_context_iteration(context, FALSE)) {
    }
  }
};

TEST(GlibPoster, InOrderOnThePumpingThreadAndNeverInline) {
  Window w;
  std::thread worker([poster = w.poster] {
    for (uintptr_t i = 0; i < 200; ++i) ASSERT_TRUE(poster->post(0x8193, i, heapString(std::to_string(i))));
  });
  worker.join();
  EXPECT_TRUE(w.received.empty());  // nothing runs before the loop does
  w.pump();
  ASSERT_EQ(w.received.size(), 200u);
  for (uintptr_t i = 0; i < 200; ++i) EXPECT_EQ(w.received[i], "33171:" + std::to_string(i) + ":" + std::to_string(i));

  w.received.clear();
  int depth = 0;
  w.onDeliver = [&] {
    EXPECT_EQ(++depth, 1) << "a post from a handler ran inside it";
    if (w.received.size() < 3) w.poster->post(0x8501, w.received.size(), 0);
    --depth;
  };
  ASSERT_TRUE(w.poster->post(0x8501, 0, 0));
  w.pump();
  EXPECT_EQ(w.received, (std::vector<std::string>{"34049:0:", "34049:1:", "34049:2:"}));
  EXPECT_EQ(discarded, 0);
}

TEST(GlibPoster, AfterCloseEveryPayloadIsDeliveredOrFreedOnce) {
  auto w = std::make_unique<Window>();
  std::shared_ptr<WindowPoster> held = w->poster;  // a worker may outlive the window and its loop
  ASSERT_TRUE(held->post(0x8502, 0, heapString("queued")));
  std::atomic<int> accepted{1}, refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        auto text = std::make_unique<std::string>("x");
        if (held->post(0x8193, 0, reinterpret_cast<intptr_t>(text.get()))) {
          text.release(), ++accepted;
        } else {
          ++refused;
        }
      }
    });
  }
  for (int i = 0; i < 50; ++i) g_main_context_iteration(w->context, FALSE);
  w->poster->close();  // while the threads still post
  EXPECT_FALSE(w->poster->isOpen());
  for (auto& thread : threads) thread.join();
  const int delivered = static_cast<int>(w->received.size());
  w.reset();  // the window, then its loop
  EXPECT_EQ(accepted + refused, 2001);
  EXPECT_EQ(delivered + discarded, accepted.load());
  std::string kept("the caller keeps this");
  EXPECT_FALSE(held->post(0x8502, 0, reinterpret_cast<intptr_t>(&kept)));
}

}  // namespace
}  // namespace varnholt_app
