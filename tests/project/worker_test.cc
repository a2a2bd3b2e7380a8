// The worker body: progress and one result, handed to its callbacks.

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "project/analysis_worker.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

struct Recorder {
  std::pair<uint64_t, uint64_t> lastProgress;
  std::vector<std::unique_ptr<AnalysisResult>> results;
  AnalysisJob job(const NativeString& root, std::string selected = {}) {
    return {root, std::move(selected), nullptr, [this](uint64_t done, uint64_t total) { lastProgress = {done, total}; },
            [this](std::unique_ptr<AnalysisResult> result) { results.push_back(std::move(result)); }, {}, false};
  }
};

TEST(AnalysisWorker, HandsOverOneResultAndItsProgress) {
  testing::TempTree tree;
  for (const char* name : {"sub/a.c", "sub/b.c"}) tree.file(name, "int f(int x) {\n  if (x) return x;\n  return 0;\n}\n");
  Recorder worker;

  runAnalysisJob(worker.job(tree.native(), "kept"));
  ASSERT_EQ(worker.results.size(), 1u);
  const AnalysisResult* result = worker.results[0].get();
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->root, tree.native());
  EXPECT_EQ(result->selectedPath, "kept");
  EXPECT_EQ(result->model.files.size(), 2u);
  EXPECT_EQ(result->totalLines, 8);
  EXPECT_EQ(worker.lastProgress, std::make_pair(uint64_t{2}, uint64_t{2})) << "the last word on progress is the whole";

  for (const char* root : {"missing", "sub/a.c"}) {  // gone, or replaced by a file
    runAnalysisJob(worker.job(tree.path(root).native()));
    const AnalysisResult* gone = worker.results.back().get();
    EXPECT_TRUE(gone && gone->rootMissing && gone->model.files.empty()) << root;
  }

  runAnalysisJob({tree.native(), "", nullptr, nullptr, nullptr, {}, false});  // nobody waits: LeakSanitizer checks
  EXPECT_EQ(worker.results.size(), 3u);
}

}  // namespace
}  // namespace varnholt_app
