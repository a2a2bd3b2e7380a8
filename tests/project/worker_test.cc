// The worker body: its result crosses only by a post, and is freed by the
// worker when the post fails.

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "project/analysis_worker.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

class RecordingPoster : public WindowPoster {
 public:
  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    if (!alive) return false;
    if (message == WM_APP_PROGRESS) return (lastProgress = {wParam, lParam}), true;
    EXPECT_EQ(message, WM_APP_ANALYSIS_DONE);
    results.emplace_back(reinterpret_cast<AnalysisResult*>(lParam));
    return true;
  }
  bool alive = true;
  std::pair<uintptr_t, intptr_t> lastProgress;
  std::vector<std::unique_ptr<AnalysisResult>> results;
};

TEST(AnalysisWorker, PostsOneResultOrFreesIt) {
  testing::TempTree tree;
  for (const char* name : {"sub/a.c", "sub/b.c"}) tree.file(name, "int f(int x) {\n  if (x) return x;\n  return 0;\n}\n");
  auto poster = std::make_shared<RecordingPoster>();

  runAnalysisJob({poster, tree.native(), "kept", nullptr});
  ASSERT_EQ(poster->results.size(), 1u);
  const AnalysisResult* result = poster->results[0].get();
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->root, tree.native());
  EXPECT_EQ(result->selectedPath, "kept");
  EXPECT_EQ(result->model.files.size(), 2u);
  EXPECT_EQ(result->totalLines, 8);
  EXPECT_EQ(poster->lastProgress, std::make_pair(uintptr_t{2}, intptr_t{2})) << "the last word on progress is the whole";

  for (const char* root : {"missing", "sub/a.c"}) {  // gone, or replaced by a file
    runAnalysisJob({poster, tree.path(root).native(), "", nullptr});
    const AnalysisResult* gone = poster->results.back().get();
    EXPECT_TRUE(gone && gone->rootMissing && gone->model.files.empty()) << root;
  }

  poster->alive = false;  // the window is gone; LeakSanitizer checks the rest
  runAnalysisJob({poster, tree.native(), "", nullptr});
  EXPECT_EQ(poster->results.size(), 3u);
}

}  // namespace
}  // namespace varnholt_app
