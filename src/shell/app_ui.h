#pragma once
// The application: every decision of the main window and of the page's
// commands, independent of the desktop it runs on. A backend (win32, linux)
// owns the window and the web view and forwards their events here; this
// class reaches the desktop only through Platform.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/file_io.h"
#include "base/native_string.h"
#include "model/model.h"
#include "project/file_scope.h"
#include "protocol/messages.h"
#include "shell/platform.h"

namespace varnholt_app {

struct AnalysisResult;

// A PNG the page wants saved, carried to the window procedure so that the
// modal save dialog never runs inside the web view's message callback.
struct SnapshotRequest {
  std::u16string fileName;
  std::string pngBytes;
};

// Frees what a WM_APP_... message carries in lParam, for a backend that has
// to drop a posted message without delivering it.
void destroyAppMessagePayload(uint32_t message, intptr_t lParam);

class AppUI {
 public:
  explicit AppUI(Platform& platform);
  ~AppUI();
  AppUI(const AppUI&) = delete;
  AppUI& operator=(const AppUI&) = delete;

  // --- Called by the backend's window procedure, on the UI thread. ---

  // The main window and its host exist (end of WM_CREATE).
  void onCreate();
  // The main window is being destroyed: stop the watcher, kill the timers,
  // let a running worker go, and end the message loop.
  void onDestroy();
  // A timer of the main window fired. False for an id that is not ours.
  bool onTimer(uint32_t id);
  // One of the WM_APP_... messages arrived (posted by a thread or by us).
  // Takes ownership of what lParam points to. False for other messages.
  bool onAppMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);

  // --- The web view. ---

  // The view exists and the page text was handed to it: queued messages go out.
  void onWebViewReady();
  // One message from the page, as JSON text.
  void handleWebMessage(std::u16string_view json);
  // The page is being loaded again: nothing goes to it until its "uiReady",
  // which sends the current state once more.
  void onPageReloading() { pageReady = false; }

  // Analyses `root` on a worker thread (the folder given on the command line).
  void startAnalysis(const NativeString& root, bool keepSelection);

  // Writes every message crossing the bridge to stderr ("< " in, "> " out).
  bool trace = false;

 private:
  // Messages to the page; each sends nothing without view or project.
  void sendProject();
  void sendCode();
  void sendAudit(FileScope scope, size_t perFile);
  void sendScopeInfo();
  void showFolderInTitle();
  // "explainLine": why one line of a project file is as hot as it is.
  void answerExplainLine(std::u16string_view message);
  void postJson(std::u16string json);
  void postJson(const std::string& utf8);
  void flushOutbox();

  void loadIntoCodeView(const std::string& path);
  void onFolderChanged();
  void onAnalysisDone(AnalysisResult* result);
  void onPickFolder();
  void onSaveSnapshot(const SnapshotRequest& request);
  void startPendingAnalysis();
  void rebuildPageKeys();
  std::string keyForPagePath(std::string pagePath) const;

  // The run's state in the page.
  void onProgress(uint64_t done, uint64_t total);
  void setRunState(RunState state, std::string text = {});
  void sendProgress();
  void finishRun(RunState state, std::string text = {});
  // The open folder going and coming back.
  void onRootMissing(const NativeString& root);
  void onRootFound(bool rootChanged);
  void onRootPoll();
  // Starts the watcher on the open folder and notes which folder that is.
  void watchRoot();

  int32_t totalLOC = 0;
  bool windowExists = false;        // between onCreate and onDestroy
  bool hasWebView = false;          // the view exists (set by onWebViewReady)
  const ProjectModel* project = nullptr;
  const ProjectFileMap* projectFiles = nullptr;
  std::string selectedPath;
  std::string codeText;
  bool pageReady = false;
  std::vector<std::u16string> outbox;

  NativeString rootFolder;
  NativeString requestedRoot;
  bool analysisBusy = false;
  std::atomic<bool> analysisPending{false};
  bool debounceArmed = false;
  bool projectLoaded = false;
  uint32_t lastChangeTick = 0;
  std::string lastOpenedFile;
  // Immutable once adopted: a rescan's worker reads it while this thread
  // does, and takes over its unchanged files.
  std::shared_ptr<const ProjectModel> projectModel;
  bool runIsRescan = false;  // the running analysis keeps the selection
  uint64_t missingSelectionSince = 0;

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

  Platform& platform_;
  // Text of the last successful read per path, shown when a later read fails.
  std::unordered_map<std::string, std::string, Fnv1aHash, std::equal_to<>> codeTextCache_;
  // A key that is not valid UTF-8 reaches the page with U+FFFD in place of
  // its bad bytes, and comes back that way: the shown text to the real key,
  // for those keys only.
  std::unordered_map<std::string, std::string, Fnv1aHash, std::equal_to<>> pageKeys_;
};

}  // namespace varnholt_app
