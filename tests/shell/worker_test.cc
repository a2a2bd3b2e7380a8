// The analysis worker on real threads: one run at a time, requests during a
// run collapse into one follow-up, and the result crosses only by a post.
// Meant to run under ThreadSanitizer as well.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fake_platform.h"
#include "project/analysis_worker.h"
#include "shell/app_ui.h"

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;

class ThreadedPlatform : public FakePlatform {
 public:
  ~ThreadedPlatform() override {
    for (auto& thread : running) thread.join();
  }
  bool startThread(std::function<void()> body) override {
    running.emplace_back(std::move(body));
    ++started;
    return true;
  }
  // Waits for posted messages and delivers them, like a message loop.
  bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  std::vector<std::thread> running;
  int started = 0;
};

fs::path makeTree(const std::string& name, int files) {
  fs::path root = fs::temp_directory_path() / (std::string("varnholt_worker_") + name);
  fs::remove_all(root);
  fs::create_directories(root / "sub");
  for (int i = 0; i < files; ++i) {
    std::string file = "f";  // built in steps: gcc 12 warns falsely on "f" + string
    file += std::to_string(i);
    file += ".c";
    std::ofstream(root / "sub" / file)
        << "int f" << i << "(int x) {\n  if (x > " << i << " && x < 9) return x;\n  return 0;\n}\n";
  }
  return root;
}

TEST(AnalysisWorker, RequestsDuringARunCollapseIntoOneFollowUp) {
  const fs::path first = makeTree("first", 300);
  const fs::path second = makeTree("second", 3);
  {
    ThreadedPlatform platform;
    AppUI app(platform);
    platform.attach(&app);
    app.onCreate();

    app.startAnalysis(first.native(), false);
    for (int i = 0; i < 5; ++i) {
      app.startAnalysis(i % 2 ? first.native() : second.native(), false);
    }
    app.startAnalysis(second.native(), false);
    ASSERT_TRUE(platform.pumpUntil([&] { return !app.analysisBusy; }));

    EXPECT_EQ(platform.started, 2) << "the first run and one follow-up";
    EXPECT_EQ(app.rootFolder, second.native());
    EXPECT_EQ(app.projectModel.files.size(), 3u);
    EXPECT_EQ(app.totalLOC, 12);
  }
  fs::remove_all(first);
  fs::remove_all(second);
}

TEST(AnalysisWorker, PostsAResultOrNothingButNeverLeaks) {
  const fs::path root = makeTree("post", 2);
  auto poster = std::make_shared<FakePoster>();
  AnalysisJob job{poster, root.native(), "kept"};

  std::thread([&] { runAnalysisJob(job); }).join();
  FakePoster::Posted posted{};
  ASSERT_TRUE(poster->take(posted));
  EXPECT_EQ(posted.message, WM_APP_ANALYSIS_DONE);
  std::unique_ptr<AnalysisResult> result(reinterpret_cast<AnalysisResult*>(posted.lParam));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->root, root.native());
  EXPECT_EQ(result->selectedPath, "kept");
  EXPECT_EQ(result->model.files.size(), 2u);
  EXPECT_EQ(result->totalLines, 8);

  poster->kill();  // the window is gone: the worker frees its own result
  std::thread([&] { runAnalysisJob(job); }).join();
  EXPECT_EQ(poster->size(), 0u);

  AnalysisJob missing{std::make_shared<FakePoster>(), (root / "missing").native(), ""};
  runAnalysisJob(missing);  // a vanished root is an empty project, not a failure
  auto* missingPoster = static_cast<FakePoster*>(missing.window.get());
  ASSERT_TRUE(missingPoster->take(posted));
  std::unique_ptr<AnalysisResult> empty(reinterpret_cast<AnalysisResult*>(posted.lParam));
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->model.files.empty());
  EXPECT_EQ(empty->totalLines, 0);
  fs::remove_all(root);
}

}  // namespace
}  // namespace varnholt_app
