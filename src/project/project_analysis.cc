#include "project/project_analysis.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/file_heat.h"
#include "project/count_lines.h"
#include "project/file_scope.h"
#include "project/walk.h"

namespace varnholt_app {

namespace {

// Hands out the files in key order to any number of threads and collects
// their line counts.
class FileQueue {
 public:
  FileQueue(std::vector<ProjectFile*> files, std::string utf8Root)
      : files_(std::move(files)), root_(std::move(utf8Root)) {}

  size_t size() const { return files_.size(); }
  AnalysisProgress progress() const {
    return {done_.load(), files_.size(), bytes_.load()};
  }
  int64_t lines() const { return lines_.load(); }

  void work() {
    try {
      AnalysisScratch scratch;  // reused across this thread's files
      for (;;) {
        if (failed_.load(std::memory_order_relaxed)) return;
        const size_t i = next_.fetch_add(1);
        if (i >= files_.size()) return;
        ProjectFile& file = *files_[i];
        analyzeFile(file, scratch);
        // analyzeFile leaves the file's bytes in scratch.text: no second read.
        classifyFile(file, root_, scratch.text);
        // Counted while the file is still warm in the page cache.
        int64_t bytes = 0;
        lines_ += countLines(file.path, bytes);
        bytes_ += bytes;
        done_ += 1;
      }
    } catch (...) {
      std::lock_guard lock(errorMutex_);
      if (!error_) error_ = std::current_exception();
      failed_ = true;
    }
  }

  void rethrowError() {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::vector<ProjectFile*> files_;
  std::string root_;
  std::atomic<size_t> next_{0};
  std::atomic<size_t> done_{0};
  std::atomic<int64_t> bytes_{0};
  std::atomic<int64_t> lines_{0};
  std::atomic<bool> failed_{false};
  std::mutex errorMutex_;
  std::exception_ptr error_;
};

std::vector<ProjectFile*> filesInKeyOrder(ProjectModel& model) {
  std::vector<ProjectFile*> files;
  files.reserve(model.files.size());
  for (auto& entry : model.files) files.push_back(&entry.second);
  // std::string compares as unsigned bytes, a proper prefix first.
  std::sort(files.begin(), files.end(),
            [](const ProjectFile* a, const ProjectFile* b) { return a->path < b->path; });
  return files;
}

}  // namespace

ProjectAnalysis analyzeProject(const NativeString& root, const AnalyzeOptions& options) {
  const int threads = options.threads > 0
                          ? options.threads
                          : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  ProjectAnalysis result;
  result.model = scanProject(root, threads);

  FileQueue queue(filesInKeyOrder(result.model), nativeToUtf8Lossy(root));
  const size_t workerCount = std::min<size_t>(static_cast<size_t>(threads), queue.size());
  std::vector<std::thread> workers;
  std::mutex doneMutex;
  std::condition_variable doneSignal;
  size_t workersLeft = 0;
  // With a progress callback every worker is a thread of its own and this
  // thread reports; otherwise this thread is one of the workers.
  const size_t spawn = options.progress ? workerCount : (workerCount > 0 ? workerCount - 1 : 0);
  for (size_t i = 0; i < spawn; ++i) {
    {
      std::lock_guard lock(doneMutex);
      ++workersLeft;
    }
    try {
      workers.emplace_back([&] {
        queue.work();
        std::lock_guard lock(doneMutex);
        --workersLeft;
        doneSignal.notify_all();
      });
    } catch (...) {
      std::lock_guard lock(doneMutex);
      --workersLeft;
      break;  // no more threads: the ones we have (or this one) do the rest
    }
  }
  std::exception_ptr progressError;
  if (options.progress && !workers.empty()) {
    std::unique_lock lock(doneMutex);
    while (!doneSignal.wait_for(lock, std::chrono::milliseconds(100),
                                [&] { return workersLeft == 0; })) {
      if (progressError) continue;
      lock.unlock();
      // A throwing callback must not leave the workers unjoined.
      try {
        options.progress(queue.progress());
      } catch (...) {
        progressError = std::current_exception();
      }
      lock.lock();
    }
  } else {
    queue.work();
  }
  for (std::thread& worker : workers) worker.join();
  queue.rethrowError();
  if (progressError) std::rethrow_exception(progressError);
  if (options.progress) options.progress(queue.progress());

  result.totalLines = static_cast<int32_t>(
      std::min<int64_t>(queue.lines(), std::numeric_limits<int32_t>::max()));
  return result;
}

}  // namespace varnholt_app
