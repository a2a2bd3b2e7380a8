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

// Payloads are heap strings; the discard hook frees them and counts.
std::atomic<int> discarded{0};
void discardString(uint32_t, intptr_t lParam) {
  delete reinterpret_cast<std::string*>(lParam);
  discarded.fetch_add(1);
}
intptr_t heapString(const std::string& text) { return reinterpret_cast<intptr_t>(new std::string(text)); }

struct Received {
  uint32_t message;
  uintptr_t wParam;
  std::string text;
};

class GlibPosterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    discarded = 0;
    context_ = g_main_context_new();
    poster_ = std::make_shared<GlibWindowPoster>(
        context_,
        [this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
          auto* text = reinterpret_cast<std::string*>(lParam);
          received_.push_back({message, wParam, text != nullptr ? *text : std::string()});
          delete text;
          if (onDeliver_) onDeliver_();
        },
        &discardString);
  }
  void TearDown() override {
    poster_.reset();
    if (context_ != nullptr) g_main_context_unref(context_);
  }
  void pump() {
    while (g_main_context_iteration(context_, FALSE)) {
    }
  }
  GMainContext* context_ = nullptr;
  std::shared_ptr<GlibWindowPoster> poster_;
  std::vector<Received> received_;
  std::function<void()> onDeliver_;
};

TEST_F(GlibPosterTest, MessagesFromOneThreadArriveInOrderOnThePumpingThread) {
  std::thread worker([poster = poster_] {
    for (uintptr_t i = 0; i < 200; ++i) ASSERT_TRUE(poster->post(0x8193, i, heapString(std::to_string(i))));
  });
  worker.join();
  EXPECT_TRUE(received_.empty());  // nothing runs before the loop does
  pump();
  ASSERT_EQ(received_.size(), 200u);
  for (uintptr_t i = 0; i < 200; ++i) {
    EXPECT_EQ(received_[i].message, 0x8193u);
    EXPECT_EQ(received_[i].wParam, i);
    EXPECT_EQ(received_[i].text, std::to_string(i));
  }
  EXPECT_EQ(discarded, 0);
}

TEST_F(GlibPosterTest, APostFromTheUiThreadIsQueuedNotRunInline) {
  int depth = 0;
  int maxDepth = 0;
  onDeliver_ = [&] {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    if (received_.size() < 3) poster_->post(0x8501, 0, 0);
    --depth;
  };
  ASSERT_TRUE(poster_->post(0x8501, 0, 0));
  pump();
  EXPECT_EQ(received_.size(), 3u);
  EXPECT_EQ(maxDepth, 1);
}

TEST_F(GlibPosterTest, AfterCloseQueuedPayloadsAreFreedAndPostsFail) {
  ASSERT_TRUE(poster_->post(0x8502, 0, heapString("queued 1")));
  ASSERT_TRUE(poster_->post(0x8502, 0, heapString("queued 2")));
  poster_->close();
  EXPECT_FALSE(poster_->isOpen());
  std::string kept("caller keeps this");
  EXPECT_FALSE(poster_->post(0x8502, 0, reinterpret_cast<intptr_t>(&kept)));
  pump();
  EXPECT_TRUE(received_.empty());
  EXPECT_EQ(discarded, 2);
}

TEST_F(GlibPosterTest, AWorkerMayOutliveTheWindowAndItsLoop) {
  std::shared_ptr<WindowPoster> held = poster_;
  ASSERT_TRUE(held->post(0x8193, 0, heapString("never pumped")));
  // The window goes, then its loop's context: the queued payload is freed.
  poster_->close();
  poster_.reset();
  g_main_context_unref(context_);
  context_ = nullptr;
  EXPECT_EQ(discarded, 1);
  std::thread late([held] { EXPECT_FALSE(held->post(0x8191, 0, 0)); });
  late.join();
  EXPECT_TRUE(received_.empty());
}

TEST_F(GlibPosterTest, ConcurrentPostsDuringCloseAreEachDeliveredOrDiscardedOnce) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::atomic<int> accepted{0};
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, poster = poster_] {
      for (int i = 0; i < kPerThread; ++i) {
        auto* text = new std::string("x");
        if (poster->post(0x8193, 0, reinterpret_cast<intptr_t>(text))) {
          accepted.fetch_add(1);
        } else {
          delete text;
          refused.fetch_add(1);
        }
      }
    });
  }
  for (int i = 0; i < 50; ++i) g_main_context_iteration(context_, FALSE);
  poster_->close();
  for (auto& thread : threads) thread.join();
  pump();
  EXPECT_EQ(accepted + refused, kThreads * kPerThread);
  EXPECT_EQ(static_cast<int>(received_.size()) + discarded, accepted.load());
}

}  // namespace
}  // namespace varnholt_app
