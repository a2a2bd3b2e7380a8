#include "shell/linux/glib_poster.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
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

class GlibPosterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    discarded = 0;
    poster_ = std::make_shared<GlibWindowPoster>(
        context_,
        [this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
          auto* text = reinterpret_cast<std::string*>(lParam);
          received_.push_back(std::to_string(message) + ":" + std::to_string(wParam) + ":" + (text ? *text : ""));
          delete text;
          if (onDeliver_) onDeliver_();
        },
        [](uint32_t, intptr_t lParam) {
          delete reinterpret_cast<std::string*>(lParam);
          ++discarded;
        });
  }
  void TearDown() override {
    poster_.reset();
    if (context_ != nullptr) g_main_context_unref(context_);
  }
  void pump() {
    while (g_main_context_iteration(context_, FALSE)) {
    }
  }
  GMainContext* context_ = g_main_context_new();
  std::shared_ptr<GlibWindowPoster> poster_;
  std::vector<std::string> received_;
  std::function<void()> onDeliver_;
};

TEST_F(GlibPosterTest, InOrderOnThePumpingThreadAndNeverInline) {
  std::thread worker([poster = poster_] {
    for (uintptr_t i = 0; i < 200; ++i) ASSERT_TRUE(poster->post(0x8193, i, heapString(std::to_string(i))));
  });
  worker.join();
  EXPECT_TRUE(received_.empty());  // nothing runs before the loop does
  pump();
  ASSERT_EQ(received_.size(), 200u);
  for (uintptr_t i = 0; i < 200; ++i) EXPECT_EQ(received_[i], "33171:" + std::to_string(i) + ":" + std::to_string(i));

  // A post from a handler is queued, not run inside it.
  received_.clear();
  int depth = 0;
  onDeliver_ = [&] {
    EXPECT_EQ(++depth, 1) << "a delivery ran inside another";
    if (received_.size() < 3) {
      EXPECT_TRUE(poster_->post(0x8501, received_.size(), 0));
    }
    --depth;
  };
  ASSERT_TRUE(poster_->post(0x8501, 0, 0));
  pump();
  EXPECT_EQ(received_, (std::vector<std::string>{"34049:0:", "34049:1:", "34049:2:"}));
  EXPECT_EQ(discarded, 0);
}

TEST_F(GlibPosterTest, AfterCloseQueuedPayloadsAreFreedAndPostsFail) {
  std::shared_ptr<WindowPoster> held = poster_;  // a worker may outlive the window and its loop
  ASSERT_TRUE(held->post(0x8502, 0, heapString("queued 1")));
  ASSERT_TRUE(held->post(0x8502, 0, heapString("queued 2")));
  poster_->close();
  EXPECT_FALSE(poster_->isOpen());
  std::string kept("the caller keeps this");
  EXPECT_FALSE(held->post(0x8502, 0, reinterpret_cast<intptr_t>(&kept)));
  poster_.reset();
  g_main_context_unref(context_);
  context_ = nullptr;
  EXPECT_EQ(discarded, 2);
  std::thread late([held] { EXPECT_FALSE(held->post(0x8191, 0, 0)); });
  late.join();
  EXPECT_TRUE(received_.empty());
}

TEST_F(GlibPosterTest, PostsRacingCloseAreEachDeliveredOrDiscardedOnce) {
  std::atomic<int> accepted{0}, refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, poster = poster_] {
      for (int i = 0; i < 500; ++i) {
        auto* text = new std::string("x");
        if (poster->post(0x8193, 0, reinterpret_cast<intptr_t>(text))) {
          ++accepted;
        } else {
          delete text;
          ++refused;
        }
      }
    });
  }
  for (int i = 0; i < 50; ++i) g_main_context_iteration(context_, FALSE);
  poster_->close();
  for (auto& thread : threads) thread.join();
  pump();
  EXPECT_EQ(accepted + refused, 2000);
  EXPECT_EQ(static_cast<int>(received_.size()) + discarded, accepted.load());
}

}  // namespace
}  // namespace varnholt_app
