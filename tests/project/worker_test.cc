// The worker body: progress and one result, handed to its callbacks.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "project/analysis_worker.h"
#include "project/project_analysis.h"
#include "project/walk_platform.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

struct Recorder {
  std::pair<uint64_t, uint64_t> lastProgress;
  std::vector<std::unique_ptr<AnalysisResult>> results;
  AnalysisJob job(const NativeString& root, std::string selected = {}) {
    return {root, std::move(selected), nullptr, [this](uint64_t done, uint64_t total) { lastProgress = {done, total}; },
            [this](std::unique_ptr<AnalysisResult> result) { results.push_back(std::move(result)); }, {}, false, nullptr};
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

  runAnalysisJob({tree.native(), "", nullptr, nullptr, nullptr, {}, false, nullptr});  // nobody waits: LeakSanitizer checks
  EXPECT_EQ(worker.results.size(), 3u);
}

// A copy made ahead goes to the guided rescan of the model it copies, once,
// and only when it is ready; the rescan then equals one that copied itself.
TEST(AnalysisWorker, GuidedRescanTakesTheCopyMadeAhead) {
  testing::TempTree tree;
  for (const char* name : {"a.c", "b.c", "c/d.c"}) tree.file(name, "int f(int x) {\n  return x;\n}\n");
  ProjectModel settled = analyzeProject(tree.native()).model;
  settled.scanStart = fileClockNow() + 3600 * fileClockGranularity();  // no file racy
  auto previous = std::make_shared<const ProjectModel>(std::move(settled));
  const ProjectModel other;
  ProjectFileMap out;
  PreparedFiles late(previous);
  EXPECT_FALSE(late.take(previous.get(), out)) << "not made yet";
  late.make();
  EXPECT_FALSE(late.take(previous.get(), out)) << "given up on";

  tree.file("b.c", "int g(int y) {\n  if (y) return y;\n  return 0;\n}\n");
  Recorder worker;
  AnalysisJob job = worker.job(tree.native());
  job.previous = previous;
  job.guided = true;
  job.changedPaths = {tree.path("b.c").native()};
  job.prepared = std::make_shared<PreparedFiles>(previous);
  job.prepared->make();
  EXPECT_FALSE(job.prepared->take(&other, out)) << "a copy of another model";
  runAnalysisJob(job);
  EXPECT_FALSE(job.prepared->take(previous.get(), out)) << "taken by the rescan";
  job.prepared = nullptr;
  runAnalysisJob(job);
  ASSERT_EQ(worker.results.size(), 2u);
  for (const auto& result : worker.results) {
    ASSERT_TRUE(result && result->changedKeys);
    EXPECT_EQ(*result->changedKeys, std::vector<std::string>{tree.key("b.c")});
    EXPECT_EQ(result->totalLines, 10);
    auto want = previous->files.begin();
    for (const auto& [key, file] : result->model.files) EXPECT_EQ(key, (want++)->first);
  }
}

// The hooks of a list shown while the run goes on: the walk's files once,
// before any is analysed; then each file, complete, once, from whichever
// thread analysed it.
TEST(AnalysisWorker, ListsTheWalkOnceThenEveryFileAnalysed) {
  testing::TempTree tree;
  for (int i = 0; i < 40; ++i) {
    std::string name = "d";  // appended: gcc 12's -O3 warns falsely on a chain of + here
    name.append(std::to_string(i % 3)).append("/f").append(std::to_string(i)).append(".c");
    tree.file(name, "int x;\nint y;\n");
  }
  std::mutex mutex;
  std::vector<std::string> walked, analysed;
  AnalyzeOptions options;
  options.threads = 2;
  options.progress = [](const AnalysisProgress&) {};  // every worker a thread of its own
  options.walked = [&](const ProjectModel& model) {
    std::lock_guard lock(mutex);
    EXPECT_TRUE(analysed.empty());
    for (const auto& entry : model.files) walked.push_back(entry.first);
  };
  options.analysed = [&](const ProjectFile& file) {
    std::lock_guard lock(mutex);
    EXPECT_EQ(file.lineCount, 2) << file.path;
    analysed.push_back(file.path);
  };
  const ProjectAnalysis result = analyzeProject(tree.native(), options);
  std::sort(walked.begin(), walked.end());
  std::sort(analysed.begin(), analysed.end());
  EXPECT_EQ(walked.size(), 40u);
  EXPECT_EQ(analysed, walked);
  EXPECT_EQ(result.totalLines, 80);
}

}  // namespace
}  // namespace varnholt_app
