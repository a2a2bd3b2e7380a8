#include "shell/app_ui.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "base/file_io.h"
#include "base/utf.h"
#include "project/analysis_worker.h"
#include "project/hot_lines.h"
#include "project/stable_reader.h"
#include "protocol/explain_message.h"
#include "protocol/json.h"
#include "protocol/messages.h"
#include "protocol/paths.h"

namespace varnholt_app {

namespace {

constexpr uint32_t kDebouncePeriodMs = 250;
constexpr uint32_t kQuietBeforeRescanMs = 900;
constexpr uint32_t kPeriodicRescanMs = 60000;
constexpr uint64_t kMissingSelectionGraceMs = 450;
constexpr uint64_t kProgressIntervalMs = 100;
constexpr uint32_t kRootPollMs = 1000;
constexpr char16_t kDefaultSnapshotName[] = u"Varnholt_snapshot.png";
constexpr char kUnreadablePlaceholder[] = "// Failed to read file.\n";

void traceLine(const char* prefix, std::string_view json) {
  std::fputs(prefix, stderr);
  std::fwrite(json.data(), 1, json.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

bool isFolder(const NativeString& path) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(path), error);
}

void traceLine(const char* prefix, std::u16string_view json) {
  traceLine(prefix, std::string_view(utf16ToUtf8Lossy(json)));
}

}  // namespace

void destroyAppMessagePayload(uint32_t message, intptr_t lParam) {
  if (lParam == 0) return;
  if (message == WM_APP_ANALYSIS_DONE) {
    delete reinterpret_cast<AnalysisResult*>(lParam);
  } else if (message == WM_APP_OPEN_FILE) {
    delete reinterpret_cast<std::string*>(lParam);
  } else if (message == WM_APP_SAVE_SNAPSHOT) {
    delete reinterpret_cast<SnapshotRequest*>(lParam);
  }
}

AppUI::AppUI(Platform& platform) : platform_(platform) {}

AppUI::~AppUI() = default;

// --- Window lifecycle ---

void AppUI::onCreate() { windowExists = true; }

void AppUI::onDestroy() {
  platform_.stopFolderWatcher();
  platform_.killTimer(TIMER_FOLDER_DEBOUNCE);
  platform_.killTimer(TIMER_PERIODIC_RESCAN);
  platform_.killTimer(TIMER_SELECTION_GRACE);
  platform_.killTimer(TIMER_ROOT_POLL);
  debounceArmed = false;
  // A running worker is let go, not waited for: its post fails once the
  // window is gone and it then frees its own result.
  windowExists = false;
  platform_.quitMessageLoop(0);
}

bool AppUI::onTimer(uint32_t id) {
  if (id == TIMER_FOLDER_DEBOUNCE) {
    const auto quiet = static_cast<uint32_t>(platform_.tickCount() - lastChangeTick);
    // Something that writes all the time never leaves a quiet time: the
    // minute's rescan then goes ahead without one.
    if (quiet < kQuietBeforeRescanMs && !periodicDue) {
      // Wake when the quiet time is up rather than on a later tick.
      platform_.setTimer(TIMER_FOLDER_DEBOUNCE, kQuietBeforeRescanMs - quiet);
      return true;
    }
    // Keep ticking until the worker is done, so the rescan follows it.
    if (analysisBusy) {
      platform_.setTimer(TIMER_FOLDER_DEBOUNCE, kDebouncePeriodMs);
      return true;
    }
    platform_.killTimer(TIMER_FOLDER_DEBOUNCE);
    debounceArmed = false;
    if (!rootFolder.empty()) startAnalysis(rootFolder, true);
    return true;
  }
  if (id == TIMER_PERIODIC_RESCAN) {
    // A vanished folder is polled for instead.
    if (!projectLoaded || rootFolder.empty() || !missingRoot.empty()) return true;
    if (debounceArmed) {
      periodicDue = true;  // the debounce's next tick runs it
    } else if (!analysisBusy) {
      startAnalysis(rootFolder, true);
    }
    return true;
  }
  if (id == TIMER_SELECTION_GRACE) {
    platform_.killTimer(TIMER_SELECTION_GRACE);
    if (missingSelectionSince != 0) sendCode();
    return true;
  }
  if (id == TIMER_ROOT_POLL) {
    onRootPoll();
    return true;
  }
  return false;
}

bool AppUI::onAppMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_APP_FOLDER_CHANGED:
      onFolderChanged();
      return true;
    case WM_APP_ANALYSIS_DONE:
      onAnalysisDone(reinterpret_cast<AnalysisResult*>(lParam));
      return true;
    case WM_APP_PROGRESS:
      onProgress(wParam, static_cast<uint64_t>(lParam));
      return true;
    case WM_APP_PICK_FOLDER:
      onPickFolder();
      return true;
    case WM_APP_OPEN_FILE: {
      std::unique_ptr<std::string> path(reinterpret_cast<std::string*>(lParam));
      if (path) loadIntoCodeView(*path);
      return true;
    }
    case WM_APP_SAVE_SNAPSHOT: {
      std::unique_ptr<SnapshotRequest> request(reinterpret_cast<SnapshotRequest*>(lParam));
      if (request) onSaveSnapshot(*request);
      return true;
    }
    default:
      return false;
  }
}

void AppUI::onFolderChanged() {
  lastChangeTick = platform_.tickCount();
  if (!debounceArmed) {
    debounceArmed = true;
    platform_.setTimer(TIMER_FOLDER_DEBOUNCE, kDebouncePeriodMs);
  }
}

void AppUI::onAnalysisDone(AnalysisResult* handedOver) {
  std::unique_ptr<AnalysisResult> result(handedOver);

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
  // The pointers follow the model at once: the old one may be gone now.
  const bool hadProject = projectFiles != nullptr;
  // Freeing a large model takes a while: not before the page has the new one.
  const std::shared_ptr<const ProjectModel> retired = std::move(projectModel);
  projectModel = std::make_shared<const ProjectModel>(std::move(result->model));
  project = projectModel.get();
  projectFiles = &projectModel->files;
  // Copies of the keys: a repeat has the same ones.
  if (!repeat) rebuildPageKeys();
  projectLoaded = true;
  rootFolder = result->root;

  totalLOC = result->totalLines > 0 ? result->totalLines : 0;
  if (pageReady && hadProject && !repeat) sendProject();

  if (pageReady && !repeat) {
    sendProject();
    sendCode();
  }

  if (rootChanged) {
    showFolderInTitle();
    watchRoot();
    platform_.setTimer(TIMER_PERIODIC_RESCAN, kPeriodicRescanMs);
  }
  onRootFound(rootChanged);

  const std::string reopen = result->selectedPath;
  result.reset();
  if (!repeat && !reopen.empty() && projectFiles->find(reopen) != projectFiles->end()) {
    loadIntoCodeView(reopen);
  }

  finishRun(RunState::Idle);
}

void AppUI::rebuildPageKeys() {
  pageKeys_.clear();
  for (const auto& entry : *projectFiles) {
    if (isValidUtf8(entry.first)) continue;  // shown as it is
    std::string shown = utf16ToUtf8Lossy(utf8ToUtf16(entry.first));
    if (shown == entry.first) continue;
    // Names that differ only in their bad bytes look alike on the page; the
    // first in byte order answers for them all, whatever the map's order.
    auto [slot, added] = pageKeys_.try_emplace(std::move(shown), entry.first);
    if (!added && entry.first < slot->second) slot->second = entry.first;
  }
}

std::string AppUI::keyForPagePath(std::string pagePath) const {
  if (projectFiles == nullptr || projectFiles->find(pagePath) != projectFiles->end()) return pagePath;
  const auto mapped = pageKeys_.find(pagePath);
  return mapped != pageKeys_.end() ? mapped->second : pagePath;
}

void AppUI::startPendingAnalysis() {
  const bool keepSelection = !lastOpenedFile.empty() && requestedRoot == rootFolder;
  startAnalysis(requestedRoot, keepSelection);
}

void AppUI::onPickFolder() {
  const NativeString folder = platform_.showFolderPicker();
  if (!folder.empty()) startAnalysis(folder, false);
}

void AppUI::onSaveSnapshot(const SnapshotRequest& request) {
  const SnapshotSaveResult saved = platform_.saveSnapshotWithDialog(request.fileName, request.pngBytes);
  if (!pageReady) return;
  const std::string path = nativeToUtf8Lossy(saved.path);
  std::string message;
  if (saved.written()) {
    message = buildSnapshotMessage(true, path);
  } else if (saved.error.empty()) {
    message = buildSnapshotMessage(false, "Snapshot not saved");
  } else {
    message = buildSnapshotMessage(
        false, "Could not save " + (path.empty() ? std::string("the snapshot") : path) + ": " + saved.error);
  }
  postJson(utf8ToWide(message));
}

// --- The run's state ---

void AppUI::onProgress(uint64_t done, uint64_t total) {
  if (!analysisBusy) return;
  runDone = done;
  runTotal = total;
  // The worker reports often; the page needs no more than a few a second.
  const uint64_t now = platform_.monotonicMs();
  if (now - lastProgressMs < kProgressIntervalMs) return;
  lastProgressMs = now;
  sendProgress();
}

void AppUI::setRunState(RunState state, std::string text) {
  runState = state;
  runText = std::move(text);
  runDone = 0;
  runTotal = 0;
  lastProgressMs = platform_.monotonicMs();
  sendProgress();
}

void AppUI::sendProgress() {
  if (!pageReady) return;
  // A folder not on screen yet is named, so the page can show it while the
  // first analysis runs rather than its welcome card.
  std::string folderName;
  if (runState == RunState::Busy && requestedRoot != rootFolder) {
    folderName = folderDisplayName(nativeToUtf8Lossy(requestedRoot));
  }
  postJson(utf8ToWide(buildProgressMessage(runState, runDone, runTotal, runText, folderName)));
}

void AppUI::finishRun(RunState state, std::string text) {
  analysisBusy = false;
  setRunState(state, std::move(text));
  if (analysisPending.exchange(false)) startPendingAnalysis();
}

void AppUI::onRootMissing(const NativeString& root) {
  // The last project stays (the page greys it) until the folder is back; its
  // watcher died with the folder and is started again then.
  if (root == rootFolder && !watcherLost) {
    platform_.stopFolderWatcher();
    watcherLost = true;
  }
  missingRoot = root;
  platform_.setTimer(TIMER_ROOT_POLL, kRootPollMs);
  finishRun(RunState::Missing, "Folder not found: " + nativeToUtf8Lossy(root));
}

void AppUI::watchRoot() {
  watchedRootKnown = fileIdentity(rootFolder, watchedRoot);
  platform_.startFolderWatcher(rootFolder);
}

void AppUI::onRootFound(bool rootChanged) {
  FileIdentity now;
  const bool replaced = !rootChanged && fileIdentity(rootFolder, now) &&
                        !(watchedRootKnown && now == watchedRoot);
  if ((watcherLost || replaced) && !rootChanged) watchRoot();
  watcherLost = false;
  if (!missingRoot.empty()) {
    missingRoot.clear();
    platform_.killTimer(TIMER_ROOT_POLL);
  }
}

void AppUI::onRootPoll() {
  if (missingRoot.empty() || !isFolder(missingRoot)) return;
  platform_.killTimer(TIMER_ROOT_POLL);
  const NativeString root = std::exchange(missingRoot, {});
  startAnalysis(root, root == rootFolder);
}

// --- Work ---

void AppUI::startAnalysis(const NativeString& root, bool keepSelection) {
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
  job->window = platform_.windowPoster();
  job->root = requestedRoot;
  if (keepSelection) job->selectedPath = lastOpenedFile;
  runIsRescan = keepSelection;
  if (projectModel && requestedRoot == rootFolder) job->previous = projectModel;
  if (!platform_.startThread([job] { runAnalysisJob(*job); })) {
    analysisBusy = false;
    setRunState(RunState::Failed, "Could not start analysing " + nativeToUtf8Lossy(requestedRoot));
    return;
  }
  setRunState(RunState::Busy);
}

void AppUI::loadIntoCodeView(const std::string& requested) {
  if (!projectLoaded) return;
  const std::string path = requested;  // may alias selectedPath
  lastOpenedFile = path;

  if (projectFiles->find(path) == projectFiles->end()) {
    selectedPath.clear();
    codeText.clear();
    if (pageReady) sendCode();
    return;
  }

  std::string text;
  // No larger than the stable reader takes: a file that has grown past that
  // since the walk is not pulled into memory whole.
  if (!readWholeFile(utf8ToNative(path), text, kStableReadMaxBytes)) {
    text = kUnreadablePlaceholder;
  }

  selectedPath = path;
  codeText.clear();
  if (pageReady) sendCode();

  selectedPath = path;
  codeText = std::move(text);
  if (pageReady) sendCode();
}

// --- Web view ---

void AppUI::onWebViewReady() {
  hasWebView = true;
  flushOutbox();
}

void AppUI::postJson(std::u16string json) {
  if (!hasWebView) {
    outbox.push_back(std::move(json));
    return;
  }
  if (trace) traceLine("> ", json);
  platform_.postWebMessage(json);
}

// The project message runs to megabytes: it goes out as built, with no
// UTF-16 copy unless the backend needs one.
void AppUI::postJson(const std::string& utf8) {
  if (!hasWebView) {
    outbox.push_back(utf8ToWide(utf8));
    return;
  }
  if (trace) traceLine("> ", std::string_view(utf8));
  platform_.postWebMessageUtf8(utf8);
}

void AppUI::flushOutbox() {
  if (!hasWebView) return;
  std::vector<std::u16string> queued;
  queued.swap(outbox);
  for (const std::u16string& json : queued) {
    if (trace) traceLine("> ", json);
    platform_.postWebMessage(json);
  }
}

void AppUI::handleWebMessage(std::u16string_view message) {
  if (trace) traceLine("< ", message);
  const std::string type = extractJsonString(message, u"type");

  if (type == "uiReady") {
    pageReady = true;
    sendProject();
    sendCode();
    if (runState != RunState::Idle) sendProgress();
  } else if (type == "pickFolder") {
    // The dialog runs from the window procedure, after this handler returns.
    if (windowExists) {
      if (auto poster = platform_.windowPoster()) poster->post(WM_APP_PICK_FOLDER, 0, 0);
    }
  } else if (type == "selectFile") {
    std::string path = base64Decode(extractJsonString(message, u"path_b64"));
    if (path.empty()) return;
    selectedPath = keyForPagePath(std::move(path));
    codeText.clear();
    if (!pageReady) return;
    if (projectFiles != nullptr && projectFiles->find(selectedPath) == projectFiles->end()) {
      // The page waits for this answer, and nothing else would come: the
      // grace before blanking is for a shown file an editor is replacing.
      missingSelectionSince = 0;
      postJson(utf8ToWide(kEmptyCodeMessage));
      return;
    }
    sendCode();
  } else if (type == "savePng") {
    const std::string pngText = extractJsonString(message, u"png_b64");
    const std::string nameText = extractJsonString(message, u"name_b64");
    if (pngText.empty()) return;
    auto request = std::make_unique<SnapshotRequest>();
    request->pngBytes = base64Decode(pngText);
    if (request->pngBytes.empty()) return;
    request->fileName = kDefaultSnapshotName;
    if (!nameText.empty()) {
      request->fileName = utf8ToWide(base64Decode(nameText));
      if (request->fileName.empty()) request->fileName = kDefaultSnapshotName;
    }
    // A modal dialog inside the web view's callback would re-enter it; the
    // window procedure shows it once this handler has returned.
    auto poster = windowExists ? platform_.windowPoster() : nullptr;
    if (poster && poster->post(WM_APP_SAVE_SNAPSHOT, 0, reinterpret_cast<intptr_t>(request.get()))) {
      request.release();
    }
  } else if (type == "requestAudit") {
    // An unknown scope is read as none: the whole project. "perFile" (a
    // decimal string, 1 to the audit's length) caps the lines of one file.
    const std::string capText = extractJsonString(message, u"perFile");
    size_t perFile = 0;
    const auto [end, error] = std::from_chars(capText.data(), capText.data() + capText.size(), perFile);
    if (error != std::errc() || end != capText.data() + capText.size() || perFile > kAuditItemLimit) perFile = 0;
    sendAudit(parseFileScope(extractJsonString(message, u"scope")).value_or(FileScope::All), perFile);
  } else if (type == "explainLine") {
    answerExplainLine(message);
  } else if (type == "quitApp") {
    if (windowExists) platform_.closeMainWindow();
  }
}

// --- Messages to the page ---

void AppUI::sendProject() {
  if (!hasWebView || project == nullptr || projectFiles == nullptr) return;
  postJson(buildProjectMessage(*projectFiles, totalLOC));
  postJson(buildFileLinesMessage(*projectFiles));
  sendScopeInfo();
}

void AppUI::sendCode() {
  if (!hasWebView || projectFiles == nullptr) return;

  const auto found = projectFiles->find(selectedPath);
  if (found == projectFiles->end()) {
    const uint64_t now = platform_.monotonicMs();
    if (!selectedPath.empty()) {
      // An editor may be replacing the file: give the next rescan a moment
      // before the view is blanked.
      if (missingSelectionSince == 0) missingSelectionSince = now;
      const uint64_t waited = now - missingSelectionSince;
      if (waited < kMissingSelectionGraceMs) {
        platform_.setTimer(TIMER_SELECTION_GRACE, static_cast<uint32_t>(kMissingSelectionGraceMs - waited));
        return;
      }
    }
    missingSelectionSince = 0;
    postJson(utf8ToWide(kEmptyCodeMessage));
    return;
  }
  if (std::exchange(missingSelectionSince, 0) != 0) platform_.killTimer(TIMER_SELECTION_GRACE);

  std::string text;
  bool unstable = false;
  if (readFileStable(selectedPath, text, unstable)) {
    codeTextCache_[selectedPath] = text;
  } else if (!codeText.empty()) {
    text = codeText;
  } else {
    const auto cached = codeTextCache_.find(selectedPath);
    if (cached != codeTextCache_.end()) text = cached->second;
  }
  if (text.empty()) text = codeText.empty() ? std::string("\n") : codeText;

  postJson(buildCodeMessage(selectedPath, text, found->second));
  codeText = std::move(text);
}

void AppUI::sendAudit(FileScope scope, size_t perFile) {
  if (!hasWebView || projectFiles == nullptr) return;
  const std::vector<AuditItem> items =
      selectAuditItems(*projectFiles, kAuditItemLimit, true, scope, perFile);
  postJson(buildAuditMessage(items));
  postJson(buildAuditReasonsMessage(auditReasons(items, *projectFiles)));
}

// Follows every project message: the page needs each file's scope and the
// folder's own name, which "projectName" does not give.
void AppUI::sendScopeInfo() {
  if (!hasWebView || projectFiles == nullptr) return;
  const std::string folder = nativeToUtf8Lossy(rootFolder);
  postJson(buildScopeInfoMessage(*projectFiles, folderDisplayName(folder)));
}

void AppUI::showFolderInTitle() {
  const std::string folder = nativeToUtf8Lossy(rootFolder);
  std::string title(folderDisplayName(folder));
  title += " \xE2\x80\x94 Varnholt";  // em dash
  platform_.setWindowTitle(utf8ToWide(title));
}

void AppUI::answerExplainLine(std::u16string_view message) {
  if (!hasWebView || projectFiles == nullptr) return;
  const std::string path = base64Decode(extractJsonString(message, u"path_b64"));
  const std::string lineText = extractJsonString(message, u"line");
  int32_t line = 0;
  const auto [end, error] =
      std::from_chars(lineText.data(), lineText.data() + lineText.size(), line);
  if (path.empty() || error != std::errc() || end != lineText.data() + lineText.size()) return;
  const auto file = projectFiles->find(keyForPagePath(path));
  LineExplanation explanation;
  const bool found = file != projectFiles->end() && explainFileLine(file->second, line, explanation);
  postJson(buildExplainMessage(path, line, found ? &explanation : nullptr));
}

}  // namespace varnholt_app
