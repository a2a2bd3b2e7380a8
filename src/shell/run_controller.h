#pragma once
// The analysis runs of the open folder: starting them and adopting their
// results, the rescans that changes and the minute ask for, the folder's
// watcher, a folder that vanishes and comes back, and the run's state as
// the page hears it. Runs on the UI thread; the worker and the watcher
// hand their values over through the platform's dispatcher.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/native_string.h"
#include "model/model.h"
#include "protocol/messages.h"
#include "shell/page_session.h"
#include "shell/platform.h"

namespace varnholt_app {

struct AnalysisResult;
class PreparedFiles;

class RunController final : public PageSession::Listener {
 public:
  RunController(Platform& platform, PageSession& page) : platform_(platform), page_(page) {}
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Analyses `root` on a worker thread; a request during a run waits for
  // its end, and only the newest one runs then.
  void startAnalysis(const NativeString& root, bool keepSelection);
  // One of the run timers fired.
  void onTimer(Timer id);
  // The window is going: the watcher stops, the timers end, a running
  // worker is let go.
  void onDestroy();

  // What the worker and the watcher hand over, on the UI thread.
  void onProgress(uint64_t done, uint64_t total);
  // Takes the result (null: the run died without one).
  void onAnalysisDone(std::shared_ptr<AnalysisResult> result);
  void onFolderChanged(FolderChanges changes);
  // A first run's list of walked files and its batches of finished ones,
  // as messages for the page.
  void onPendingList(std::string json);
  void onPendingFill(std::string json);

  void onPageReady() override;
  void onPickFolder() override;

  // Told of every result adopted (`repeat`: a rescan that changed nothing),
  // once the page has it.
  std::function<void(const NativeString& root, std::shared_ptr<const ProjectModel> model, bool repeat)>
      onAdopted;

 private:
  void startPendingAnalysis();
  void setRunState(RunState state, std::string text = {});
  void sendProgress();
  void finishRun(RunState state, std::string text = {});
  void showFolderInTitle();
  // The open folder going and coming back.
  void onRootMissing(const NativeString& root);
  void onRootFound(bool rootChanged);
  void onRootPoll();
  // Starts the watcher on the open folder and notes which folder that is.
  void watchRoot();

  Platform& platform_;
  PageSession& page_;

  NativeString rootFolder;
  NativeString requestedRoot;
  bool analysisBusy = false;
  std::atomic<bool> analysisPending{false};
  bool debounceArmed = false;
  uint32_t lastChangeTick = 0;
  // Immutable once adopted: a rescan's worker reads it while this thread
  // does, and takes over its unchanged files.
  std::shared_ptr<const ProjectModel> projectModel;
  bool runIsRescan = false;  // the running analysis keeps the selection

  RunState runState = RunState::Idle;  // as the page heard it last
  uint64_t runDone = 0;
  uint64_t runTotal = 0;
  std::string runText;
  uint64_t lastProgressMs = 0;
  NativeString missingRoot;  // polled until it is a folder again
  bool watcherLost = false;  // the open folder vanished under its watcher
  // The folder the watcher follows; another one under the same name (moved
  // away and replaced) needs a new watcher.
  FileIdentity watchedRoot;
  bool watchedRootKnown = false;
  // The minute is up while changes keep the debounce waiting for quiet.
  bool periodicDue = false;
  // What the watcher named since the last run started; incomplete when it
  // could not say. The debounced rescan looks at those paths only.
  std::vector<NativeString> changedPaths;
  bool changesComplete = true;
  bool guideNextRun = false;
  // A copy of the model's files, made while the changes settle, for the
  // guided rescan to start from.
  std::shared_ptr<PreparedFiles> preparedFiles;
};

}  // namespace varnholt_app
