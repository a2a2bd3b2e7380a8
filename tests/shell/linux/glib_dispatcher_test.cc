#include "shell/linux/glib_dispatcher.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace varnholt_app {
namespace {

struct Window {
  GMainContext* context = g_main_context_new();
  std::shared_ptr<GlibDispatcher> ui = std::make_shared<GlibDispatcher>(context);
  ~Window() {
    ui.reset();
    g_main_context_unref(context);
  }
  void pump() {
    while (g_main_context_iteration(context, FALSE)) {
    }
  }
};

TEST(GlibDispatcher, InOrderOnThePumpingThreadAndNeverInline) {
  Window w;
  std::vector<int> ran;
  const std::thread::id pumping = std::this_thread::get_id();
  std::thread worker([&, ui = w.ui] {
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(ui->dispatch([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), pumping);
        ran.push_back(i);
      }));
    }
  });
  worker.join();
  EXPECT_TRUE(ran.empty()) << "nothing runs before the loop does";
  w.pump();
  ASSERT_EQ(ran.size(), 200u);
  for (size_t i = 0; i < ran.size(); ++i) EXPECT_EQ(ran[i], static_cast<int>(i));

  ran.clear();
  int depth = 0;
  std::function<void()> nested = [&] {
    EXPECT_EQ(++depth, 1) << "a dispatch from a task ran inside it";
    ran.push_back(static_cast<int>(ran.size()));
    if (ran.size() < 3) w.ui->dispatch(nested);
    --depth;
  };
  ASSERT_TRUE(w.ui->dispatch(nested));
  w.pump();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
}

TEST(GlibDispatcher, AfterCloseEveryTaskRunsOrIsFreedOnce) {
  auto w = std::make_unique<Window>();
  std::shared_ptr<Dispatcher> held = w->ui;  // a worker may outlive the window and its loop
  const auto token = std::make_shared<int>(0);  // every task holds a copy
  std::atomic<int> accepted{0}, refused{0}, ran{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) (held->dispatch([&ran, token] { ++ran; }) ? accepted : refused)++;
    });
  }
  for (int i = 0; i < 50; ++i) g_main_context_iteration(w->context, FALSE);
  w->ui->close();  // while the threads still dispatch
  EXPECT_FALSE(w->ui->isOpen());
  const int ranBeforeClose = ran;
  for (auto& thread : threads) thread.join();
  w->pump();
  EXPECT_EQ(ran, ranBeforeClose) << "no task runs once closed";
  w.reset();  // the window, then its loop
  EXPECT_EQ(accepted + refused, 2000);
  EXPECT_LE(ran, accepted);
  EXPECT_EQ(token.use_count(), 1) << "a queued or refused task was not freed";
  EXPECT_FALSE(held->dispatch([token] {}));
  EXPECT_EQ(token.use_count(), 1);
}

}  // namespace
}  // namespace varnholt_app
