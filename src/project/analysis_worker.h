#pragma once
// One background analysis run: walk, analyse, count, hand the result over.

#include <cstdint>
#include <memory>
#include <string>

#include "base/native_string.h"
#include "base/window_poster.h"
#include "model/model.h"

namespace varnholt_app {

struct AnalysisJob {
  std::shared_ptr<WindowPoster> window;  // receives WM_APP_ANALYSIS_DONE
  NativeString root;
  std::string selectedPath;  // file to show again afterwards, or empty
  // The adopted model of the same root, whose unchanged files the run takes
  // over; shared with the window, which never changes it. May be null.
  std::shared_ptr<const ProjectModel> previous;
};

struct AnalysisResult {
  NativeString root;
  ProjectModel model;
  int32_t totalLines = 0;
  std::string selectedPath;
  // The root is not a folder (gone, renamed, or replaced by a file); the
  // model is empty.
  bool rootMissing = false;
  // Why the run failed, one line for the user; the model is empty. Empty
  // when the run succeeded.
  std::string failure;
  // The job's previous model when this result repeats it exactly; only
  // compared, never followed.
  const ProjectModel* repeats = nullptr;
};

// The worker thread's body. Posts WM_APP_PROGRESS now and then (wParam: files
// analysed, lParam: files to analyse, 0 while the walk is still counting),
// then WM_APP_ANALYSIS_DONE with a heap AnalysisResult, or with 0 when not
// even that could be made. A result that cannot be posted (the window is
// gone) is destroyed here.
void runAnalysisJob(const AnalysisJob& job);

}  // namespace varnholt_app
