#include "project/analysis_worker.h"

#include <filesystem>
#include <new>
#include <utility>

#include "project/project_analysis.h"

namespace varnholt_app {

namespace {

bool isFolder(const NativeString& root) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(root), error);
}

}  // namespace

void PreparedFiles::make() {
  ProjectFileMap copy(of_->files);
  std::lock_guard lock(mutex_);
  if (taken_) return;  // too late: freed here, on this thread
  files_.swap(copy);
  ready_ = true;
}

bool PreparedFiles::take(const ProjectModel* model, ProjectFileMap& out) {
  std::lock_guard lock(mutex_);
  if (taken_ || model != of_.get()) return false;
  taken_ = true;  // a copy still being made is not waited for
  if (!ready_) return false;
  out.swap(files_);
  return true;
}

void runAnalysisJob(const AnalysisJob& job) {
  std::unique_ptr<AnalysisResult> result;
  try {
    result = std::make_unique<AnalysisResult>();
    result->root = job.root;
    result->selectedPath = job.selectedPath;
    try {
      // A root that is gone or became a file is reported, not walked: a
      // file of the same name would otherwise show as a one-file project.
      if (!isFolder(job.root)) {
        result->rootMissing = true;
      } else {
        AnalyzeOptions options;
        options.previous = job.previous.get();
        if (job.guided && job.previous) options.changedPaths = &job.changedPaths;
        if (job.prepared) {
          options.takePreparedCopy = [&job](ProjectFileMap& copy) {
            return job.prepared->take(job.previous.get(), copy);
          };
        }
        if (job.progress) {
          options.progress = [&job](const AnalysisProgress& progress) {
            job.progress(progress.filesDone, progress.filesTotal);
          };
        }
        ProjectAnalysis analysis = analyzeProject(job.root, options);
        result->model = std::move(analysis.model);
        result->totalLines = analysis.totalLines;
        if (analysis.sameAsPrevious) result->repeats = job.previous.get();
        if (analysis.guided) {
          result->changedKeys =
              std::make_shared<const std::vector<std::string>>(std::move(analysis.changedKeys));
          result->changedAgainst = job.previous.get();
        }
        // Gone while it was walked.
        if (result->model.files.empty() && !isFolder(job.root)) result->rootMissing = true;
      }
    } catch (const std::exception& error) {
      // The adopted project stays as it is; the user learns why.
      result->model = {};
      result->totalLines = 0;
      const bool noMemory = dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
      result->failure = "Could not read " + nativeToUtf8Lossy(job.root) + ": " +
                        (noMemory ? "out of memory" : error.what());
    }
  } catch (...) {
    result.reset();
  }
  if (job.done) job.done(std::move(result));
}

}  // namespace varnholt_app
