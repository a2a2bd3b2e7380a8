#include "project/analysis_worker.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <new>
#include <utility>

#include "project/project_analysis.h"

namespace varnholt_app {

namespace {

bool isFolder(const NativeString& root) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(root), error);
}

// Often enough for the list to fill visibly, seldom enough that the page's
// work on each batch (it competes with the analysis for the processors)
// stays small: the interval grows with the run, to half the time since the
// first batch. Every 300 ms made the kernel's project come a second later.
constexpr auto kFinishedInterval = std::chrono::milliseconds(500);

// The records the analysing threads finish, handed in batches to the thread
// that reports progress.
class FinishedFiles {
 public:
  void add(const ProjectFile& file) {
    std::lock_guard lock(mutex_);
    files_.push_back(&file);
  }
  // The batch since the last one, once the interval is up; else nothing.
  bool takeDue(std::vector<const ProjectFile*>& batch) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::max<std::chrono::steady_clock::duration>(kFinishedInterval, (now - first_) / 2)) {
      return false;
    }
    if (!started_) first_ = now;
    started_ = true;
    last_ = now;
    std::lock_guard lock(mutex_);
    batch.swap(files_);
    files_.clear();
    return !batch.empty();
  }

 private:
  std::mutex mutex_;
  std::vector<const ProjectFile*> files_;
  std::chrono::steady_clock::time_point first_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_ = first_;
  bool started_ = false;  // a batch went out, at first_
};

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
        FinishedFiles finished;
        options.walked = job.walked;
        if (job.finished) options.analysed = [&finished](const ProjectFile& file) { finished.add(file); };
        if (job.progress || job.finished) {
          options.progress = [&job, &finished](const AnalysisProgress& progress) {
            if (job.progress) job.progress(progress.filesDone, progress.filesTotal);
            std::vector<const ProjectFile*> batch;
            if (job.finished && progress.filesDone < progress.filesTotal && finished.takeDue(batch)) {
              job.finished(std::move(batch));
            }
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
