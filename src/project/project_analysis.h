#pragma once
// A whole analysis run: walk the folder, analyse every file, total the lines.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

struct AnalysisProgress {
  size_t filesDone = 0;
  size_t filesTotal = 0;
  int64_t bytesDone = 0;  // bytes of the files done so far
};

struct AnalyzeOptions {
  // Threads for the walk and the per-file work; 0: one per hardware thread.
  int threads = 0;
  // Called on the calling thread now and then while files are analysed, and
  // once more when all are done. Optional.
  std::function<void(const AnalysisProgress&)> progress;
};

struct ProjectAnalysis {
  ProjectModel model;
  int32_t totalLines = 0;  // sum of every file's line count, saturating
};

// Walks `root`, analyses every file and counts the project's lines. The
// result is the same for every thread count: files are independent, and
// each is analysed exactly as in one pass over the keys in byte order.
// Errors of the walk (and allocation failures) propagate; no partial result
// survives them.
ProjectAnalysis analyzeProject(const NativeString& root, const AnalyzeOptions& options = {});

}  // namespace varnholt_app
