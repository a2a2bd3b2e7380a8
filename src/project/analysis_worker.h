#pragma once
// One background analysis run: walk, analyse, count, hand the result over.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

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
  // A guided rescan's keys whose records may differ from those of the
  // previous model, `changedAgainst` (only compared, never followed); every
  // other record is the same. Null after a walk.
  std::shared_ptr<const std::vector<std::string>> changedKeys;
  const ProjectModel* changedAgainst = nullptr;
};

// A copy of an adopted model's files, made on a thread of its own while
// changes settle, so that the guided rescan after them need not copy them
// on the way to the page.
class PreparedFiles {
 public:
  explicit PreparedFiles(std::shared_ptr<const ProjectModel> of) : of_(std::move(of)) {}
  // The copying, on its own thread.
  void make();
  // Hands the copy over when it is one of `model` and is ready; never waits.
  bool take(const ProjectModel* model, ProjectFileMap& out);

 private:
  const std::shared_ptr<const ProjectModel> of_;
  std::mutex mutex_;
  bool ready_ = false;
  bool taken_ = false;
  ProjectFileMap files_;
};

struct AnalysisJob {
  NativeString root;
  std::string selectedPath;  // file to show again afterwards, or empty
  // The adopted model of the same root, whose unchanged files the run takes
  // over; shared with the UI thread, which never changes it. May be null.
  std::shared_ptr<const ProjectModel> previous;
  // Called on the worker thread; either may be empty. `progress` gets the
  // files analysed and the files to analyse (0 while the walk still counts).
  // `done` is called once, with the result, or with null when not even that
  // could be made.
  std::function<void(uint64_t done, uint64_t total)> progress;
  std::function<void(std::unique_ptr<AnalysisResult> result)> done;
  // With `previous` and `guided`: the paths the watcher named since it was
  // made, the only ones looked at unless they cannot settle the rescan.
  std::vector<NativeString> changedPaths;
  bool guided = false;
  // A copy of previous's files the guided scan may take. May be null.
  std::shared_ptr<PreparedFiles> prepared;
  // For a list shown while the run goes on; either may be empty. Called on
  // the worker thread: `walked` once the walk is done, before any file is
  // analysed (the model is only read, and only during the call); `finished`
  // now and then (every 500 ms at first, less often as the run goes on) with
  // the records analysed since its last call, complete and not written
  // again in this run (they live until `done`). The files still being
  // analysed when the run ends are never passed: the result has them.
  std::function<void(const ProjectModel& walked)> walked = nullptr;
  std::function<void(std::vector<const ProjectFile*> batch)> finished = nullptr;
};

// The worker thread's body: reports progress now and then, then hands the
// result to `done`.
void runAnalysisJob(const AnalysisJob& job);

}  // namespace varnholt_app
