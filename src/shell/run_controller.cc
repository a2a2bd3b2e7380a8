#include "shell/run_controller.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "project/analysis_worker.h"
#include "protocol/paths.h"

namespace varnholt_app {

namespace {

constexpr uint32_t kDebouncePeriodMs = 250;
constexpr uint32_t kQuietBeforeRescanMs = 900;
constexpr uint32_t kPeriodicRescanMs = 60000;
constexpr uint64_t kProgressIntervalMs = 100;
constexpr uint32_t kRootPollMs = 1000;

bool isFolder(const NativeString& path) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(path), error);
}

}  // namespace

void RunController::onDestroy() {
  platform_.stopFolderWatcher();
  platform_.killTimer(Timer::FolderDebounce);
  platform_.killTimer(Timer::PeriodicRescan);
  platform_.killTimer(Timer::RootPoll);
  debounceArmed = false;
  // A running worker is let go, not waited for: its result cannot be
  // dispatched once the window is gone and is freed with the closure.
}

void RunController::onTimer(Timer id) {
  switch (id) {
    case Timer::FolderDebounce: {
      const auto quiet = static_cast<uint32_t>(platform_.tickCount() - lastChangeTick);
      // Something that writes all the time never leaves a quiet time: the
      // minute's rescan then goes ahead without one.
      if (quiet < kQuietBeforeRescanMs && !periodicDue) {
        // Wake when the quiet time is up rather than on a later tick.
        platform_.setTimer(Timer::FolderDebounce, kQuietBeforeRescanMs - quiet);
        return;
      }
      // Keep ticking until the worker is done, so the rescan follows it.
      if (analysisBusy) {
        platform_.setTimer(Timer::FolderDebounce, kDebouncePeriodMs);
        return;
      }
      platform_.killTimer(Timer::FolderDebounce);
      debounceArmed = false;
      guideNextRun = !periodicDue;  // the minute's rescan walks
      if (!rootFolder.empty()) startAnalysis(rootFolder, true);
      guideNextRun = false;
      return;
    }
    case Timer::PeriodicRescan:
      // A vanished folder is polled for instead.
      if (!projectModel || rootFolder.empty() || !missingRoot.empty()) return;
      if (debounceArmed) {
        periodicDue = true;  // the debounce's next tick runs it
      } else if (!analysisBusy) {
        startAnalysis(rootFolder, true);
      }
      return;
    case Timer::RootPoll:
      onRootPoll();
      return;
    case Timer::SelectionGrace:
      return;  // the page's
  }
}

// More than this many named paths, and the rescan walks anyway.
constexpr size_t kMaxNamedPaths = 256;

void RunController::onFolderChanged(FolderChanges changes) {
  lastChangeTick = platform_.tickCount();
  changesComplete = changesComplete && changes.complete;
  for (NativeString& path : changes.paths) {
    if (!changesComplete || changedPaths.size() > kMaxNamedPaths) break;
    if (std::find(changedPaths.begin(), changedPaths.end(), path) == changedPaths.end()) {
      changedPaths.push_back(std::move(path));
    }
  }
  if (changedPaths.size() > kMaxNamedPaths) changesComplete = false;
  if (!changesComplete) changedPaths.clear();
  if (!debounceArmed) {
    debounceArmed = true;
    platform_.setTimer(Timer::FolderDebounce, kDebouncePeriodMs);
    // Copying a large model's files takes tens of milliseconds: done now,
    // in the quiet time, rather than after it.
    if (changesComplete && projectModel && !analysisBusy && !preparedFiles) {
      auto prepared = std::make_shared<PreparedFiles>(projectModel);
      if (platform_.startThread([prepared] { prepared->make(); })) preparedFiles = std::move(prepared);
    }
  }
}

void RunController::onPendingList(std::string json) {
  if (analysisBusy) page_.showPending(std::move(json));
}

void RunController::onPendingFill(std::string json) {
  if (analysisBusy) page_.fillPending(std::move(json));
}

void RunController::onAnalysisDone(std::shared_ptr<AnalysisResult> result) {
  // Whatever comes of it, a pending list has nothing more to wait for: the
  // project below replaces it, or it goes here.
  if (!result || result->root != requestedRoot || !result->failure.empty() || result->rootMissing) {
    page_.endPending();
  }
  if (!result) {
    finishRun(RunState::Failed, "Could not analyse " + nativeToUtf8Lossy(requestedRoot));
    return;
  }
  if (result->root != requestedRoot) {
    // Another folder was asked for meanwhile: this result is stale.
    result.reset();
    analysisBusy = false;
    startAnalysis(requestedRoot, false);
    return;
  }
  if (!result->failure.empty()) {
    finishRun(RunState::Failed, std::move(result->failure));
    return;
  }
  if (result->rootMissing) {
    onRootMissing(result->root);
    return;
  }

  const bool rootChanged = rootFolder != result->root;
  // A rescan that found nothing changed: the page already shows all of it,
  // so the model is taken (for its newer stamps) and nothing is sent.
  const bool repeat =
      runIsRescan && result->repeats != nullptr && result->repeats == projectModel.get();
  // Freeing a large model takes a while: not before the page has the new one.
  const std::shared_ptr<const ProjectModel> retired = std::move(projectModel);
  projectModel = std::make_shared<const ProjectModel>(std::move(result->model));
  rootFolder = result->root;
  // Keys that changed are only known against the model the page holds.
  const bool keysKnown = result->changedKeys && result->changedAgainst == retired.get();
  page_.showProject(*projectModel, result->totalLines,
                    std::string(folderDisplayName(nativeToUtf8Lossy(rootFolder))), repeat,
                    keysKnown ? result->changedKeys.get() : nullptr);
  if (onAdopted) onAdopted(rootFolder, projectModel, repeat);

  if (rootChanged) {
    showFolderInTitle();
    watchRoot();
    platform_.setTimer(Timer::PeriodicRescan, kPeriodicRescanMs);
  }
  onRootFound(rootChanged);

  const std::string reopen = result->selectedPath;
  result.reset();
  if (!repeat && !reopen.empty() && projectModel->files.count(reopen) != 0) page_.loadIntoCodeView(reopen);

  finishRun(RunState::Idle);
}

void RunController::startPendingAnalysis() {
  const bool keepSelection = !page_.lastOpenedFile().empty() && requestedRoot == rootFolder;
  startAnalysis(requestedRoot, keepSelection);
}

void RunController::onPickFolder() {
  const NativeString folder = platform_.showFolderPicker();
  if (!folder.empty()) startAnalysis(folder, false);
}

void RunController::onPageReady() {
  // A page that (re)loads mid-run hears where it stands.
  if (runState != RunState::Idle) sendProgress();
}

void RunController::showFolderInTitle() {
  std::string title(folderDisplayName(nativeToUtf8Lossy(rootFolder)));
  title += " \xE2\x80\x94 Varnholt";  // em dash
  platform_.setWindowTitle(utf8ToWide(title));
}

// --- The run's state ---

void RunController::onProgress(uint64_t done, uint64_t total) {
  if (!analysisBusy) return;
  runDone = done;
  runTotal = total;
  // The worker reports often; the page needs no more than a few a second.
  const uint64_t now = platform_.monotonicMs();
  if (now - lastProgressMs < kProgressIntervalMs) return;
  lastProgressMs = now;
  sendProgress();
}

void RunController::setRunState(RunState state, std::string text) {
  runState = state;
  runText = std::move(text);
  runDone = 0;
  runTotal = 0;
  lastProgressMs = platform_.monotonicMs();
  sendProgress();
}

void RunController::sendProgress() {
  if (!page_.ready()) return;
  // A folder not on screen yet is named, so the page can show it while the
  // first analysis runs rather than its welcome card.
  std::string folderName;
  if (runState == RunState::Busy && requestedRoot != rootFolder) {
    folderName = folderDisplayName(nativeToUtf8Lossy(requestedRoot));
  }
  page_.postJson(buildProgressMessage(runState, runDone, runTotal, runText, folderName));
}

void RunController::finishRun(RunState state, std::string text) {
  analysisBusy = false;
  setRunState(state, std::move(text));
  if (analysisPending.exchange(false)) startPendingAnalysis();
}

void RunController::onRootMissing(const NativeString& root) {
  // The last project stays (the page greys it) until the folder is back; its
  // watcher died with the folder and is started again then.
  if (root == rootFolder && !watcherLost) {
    platform_.stopFolderWatcher();
    watcherLost = true;
  }
  missingRoot = root;
  platform_.setTimer(Timer::RootPoll, kRootPollMs);
  finishRun(RunState::Missing, "Folder not found: " + nativeToUtf8Lossy(root));
}

void RunController::watchRoot() {
  watchedRootKnown = fileIdentity(rootFolder, watchedRoot);
  // Called on the watcher's thread, which never touches this object.
  FolderChangeHandler onChange;
  if (std::shared_ptr<Dispatcher> ui = platform_.dispatcher()) {
    onChange = [ui, this](FolderChanges changes) {
      ui->dispatch([this, changes = std::move(changes)]() mutable { onFolderChanged(std::move(changes)); });
    };
  }
  platform_.startFolderWatcher(rootFolder, std::move(onChange));
}

void RunController::onRootFound(bool rootChanged) {
  FileIdentity now;
  const bool replaced = !rootChanged && fileIdentity(rootFolder, now) &&
                        !(watchedRootKnown && now == watchedRoot);
  if ((watcherLost || replaced) && !rootChanged) watchRoot();
  watcherLost = false;
  if (!missingRoot.empty()) {
    missingRoot.clear();
    platform_.killTimer(Timer::RootPoll);
  }
}

void RunController::onRootPoll() {
  if (missingRoot.empty() || !isFolder(missingRoot)) return;
  platform_.killTimer(Timer::RootPoll);
  const NativeString root = std::exchange(missingRoot, {});
  startAnalysis(root, root == rootFolder);
}

// --- Work ---

void RunController::startAnalysis(const NativeString& root, bool keepSelection) {
  if (root.empty()) return;
  if (&root != &requestedRoot) requestedRoot = root;
  if (analysisBusy) {
    analysisPending = true;
    return;
  }
  analysisBusy = true;
  analysisPending = false;
  periodicDue = false;

  auto job = std::make_shared<AnalysisJob>();
  job->root = requestedRoot;
  if (keepSelection) job->selectedPath = page_.lastOpenedFile();
  runIsRescan = keepSelection;
  if (projectModel && requestedRoot == rootFolder) job->previous = projectModel;
  // From here on the watcher's news is for the next run.
  job->guided = guideNextRun && changesComplete && !changedPaths.empty() && job->previous;
  if (job->guided) job->changedPaths = std::move(changedPaths);
  // Also when unused: the job frees it on its own thread.
  job->prepared = std::move(preparedFiles);
  changedPaths.clear();
  changesComplete = true;
  // The worker never touches this object: what it reports is handled here,
  // on the UI thread, and only while the window lives.
  if (std::shared_ptr<Dispatcher> ui = platform_.dispatcher()) {
    job->progress = [ui, this](uint64_t done, uint64_t total) {
      ui->dispatch([this, done, total] { onProgress(done, total); });
    };
    if (!job->previous) {
      // A first run: its files show as soon as the walk has them, and fill
      // in as they are done. The messages are built here, on the worker.
      auto pending = std::make_shared<PendingList>();
      std::string folderName(folderDisplayName(nativeToUtf8Lossy(requestedRoot)));
      job->walked = [ui, this, pending, folderName](const ProjectModel& model) {
        ui->dispatch([this, json = pending->start(model.files, folderName)]() mutable {
          onPendingList(std::move(json));
        });
      };
      job->finished = [ui, this, pending](std::vector<const ProjectFile*> batch) {
        ui->dispatch([this, json = pending->fill(batch)]() mutable { onPendingFill(std::move(json)); });
      };
    }
    job->done = [ui, this](std::unique_ptr<AnalysisResult> result) {
      ui->dispatch([this, result = std::shared_ptr<AnalysisResult>(std::move(result))]() mutable {
        onAnalysisDone(std::move(result));
        platform_.releaseFreedMemory();
      });
    };
  }
  if (!platform_.startThread([job] { runAnalysisJob(*job); })) {
    analysisBusy = false;
    setRunState(RunState::Failed, "Could not start analysing " + nativeToUtf8Lossy(requestedRoot));
    return;
  }
  setRunState(RunState::Busy);
}

}  // namespace varnholt_app
