#include "project/analysis_worker.h"

#include <utility>

#include "project/project_analysis.h"

namespace varnholt_app {

void runAnalysisJob(const AnalysisJob& job) {
  std::unique_ptr<AnalysisResult> result;
  try {
    result = std::make_unique<AnalysisResult>();
    result->root = job.root;
    result->selectedPath = job.selectedPath;
    AnalyzeOptions options;
    options.previous = job.previous.get();
    ProjectAnalysis analysis = analyzeProject(job.root, options);
    result->model = std::move(analysis.model);
    result->totalLines = analysis.totalLines;
    if (analysis.sameAsPrevious) result->repeats = job.previous.get();
  } catch (...) {
    // A broken enumeration, an unconvertible name or no memory: the run
    // fails as a whole and the adopted project stays as it is.
    result.reset();
  }
  if (!job.window) return;
  if (!result) {
    job.window->post(WM_APP_ANALYSIS_DONE, 0, 0);
    return;
  }
  AnalysisResult* handedOver = result.release();
  if (!job.window->post(WM_APP_ANALYSIS_DONE, 0, reinterpret_cast<intptr_t>(handedOver))) {
    delete handedOver;
  }
}

}  // namespace varnholt_app
