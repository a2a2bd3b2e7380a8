#include "shell/page_session.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "base/file_io.h"
#include "base/utf.h"
#include "project/hot_lines.h"
#include "project/stable_reader.h"
#include "protocol/explain_message.h"
#include "protocol/json.h"
#include "protocol/messages.h"

namespace varnholt_app {

namespace {

constexpr uint64_t kMissingSelectionGraceMs = 450;
constexpr char kDefaultSnapshotName[] = "Varnholt_snapshot.png";
constexpr char kUnreadablePlaceholder[] = "// Failed to read file.\n";

void traceLine(const char* prefix, std::string_view json) {
  std::fputs(prefix, stderr);
  std::fwrite(json.data(), 1, json.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}


// Bytes that are not UTF-8 become U+FFFD, as a trip through UTF-16 would
// make them.
std::string validUtf8(std::string_view text) {
  if (isValidUtf8(text)) return std::string(text);
  std::string out;
  for (size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const size_t length = decodeUtf8At(text, i, c);
    out.append(c == 0xFFFD ? std::string_view("\xEF\xBF\xBD") : text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace

void PageSession::setWindowExists(bool exists) {
  windowExists_ = exists;
  if (!exists) platform_.killTimer(Timer::SelectionGrace);
}

void PageSession::onWebViewReady() {
  hasWebView_ = true;
  std::vector<std::string> queued;
  queued.swap(outbox_);
  for (const std::string& json : queued) postJson(json);
}

// The project message runs to megabytes: it goes out as built.
void PageSession::postJson(const std::string& utf8) {
  if (!hasWebView_) {
    outbox_.push_back(utf8);
    return;
  }
  if (trace) traceLine("> ", utf8);
  platform_.postWebMessage(utf8);
}

void PageSession::handleCommand(std::string_view message) {
  if (trace) traceLine("< ", message);
  const std::string type = extractJsonString(message, "type");

  if (type == "uiReady") {
    pageReady_ = true;
    pendingShown_ = false;  // a page loaded afresh shows none
    sendProject();
    sendCode();
    // A run's list that the page was not ready for.
    if (!pendingHeld_.empty() && hasWebView_) {
      pendingShown_ = true;
      for (const std::string& json : pendingHeld_) postJson(json);
      pendingHeld_.clear();
    }
    listener_.onPageReady();
    if (follower_ != nullptr) follower_->afterPageReady();
  } else if (type == "pickFolder") {
    // The dialog runs once this handler has returned.
    if (windowExists_) platform_.dispatch([this] { listener_.onPickFolder(); });
  } else if (type == "selectFile") {
    std::string path = base64Decode(extractJsonString(message, "path_b64"));
    if (path.empty()) return;
    selectedPath_ = keyForPagePath(std::move(path));
    codeText_.clear();
    if (!pageReady_) return;
    if (projectFiles_ != nullptr && projectFiles_->find(selectedPath_) == projectFiles_->end()) {
      // The page waits for this answer, and nothing else would come: the
      // grace before blanking is for a shown file an editor is replacing.
      missingSelectionSince_ = 0;
      postJson(std::string(kEmptyCodeMessage));
      return;
    }
    sendCode();
  } else if (type == "savePng") {
    requestSnapshotSave(message);
  } else if (type == "requestAudit") {
    // An unknown scope is read as none: the whole project. "perFile" (a
    // decimal string, 1 to the audit's length) caps the lines of one file.
    const std::string capText = extractJsonString(message, "perFile");
    size_t perFile = 0;
    const auto [end, error] = std::from_chars(capText.data(), capText.data() + capText.size(), perFile);
    if (error != std::errc() || end != capText.data() + capText.size() || perFile > kAuditItemLimit) perFile = 0;
    sendAudit(parseFileScope(extractJsonString(message, "scope")).value_or(FileScope::All), perFile);
  } else if (type == "explainLine") {
    answerExplainLine(message);
  } else if (type == "quitApp") {
    if (windowExists_) platform_.closeMainWindow();
  }
}

void PageSession::requestSnapshotSave(std::string_view message) {
  const std::string pngText = extractJsonString(message, "png_b64");
  const std::string nameText = extractJsonString(message, "name_b64");
  if (pngText.empty()) return;
  std::string pngBytes = base64Decode(pngText);
  if (pngBytes.empty()) return;
  std::string fileName = validUtf8(base64Decode(nameText));
  if (fileName.empty()) fileName = kDefaultSnapshotName;
  // A modal dialog inside the web view's callback would re-enter it; it is
  // shown once this handler has returned.
  if (!windowExists_) return;
  platform_.dispatch([this, fileName = std::move(fileName), pngBytes = std::move(pngBytes)] {
    saveSnapshot(fileName, pngBytes);
  });
}

void PageSession::saveSnapshot(const std::string& fileName, const std::string& pngBytes) {
  const SnapshotSaveResult saved = platform_.saveSnapshotWithDialog(fileName, pngBytes);
  if (!pageReady_) return;
  const std::string path = nativeToUtf8Lossy(saved.path);
  if (saved.written()) {
    postJson(buildSnapshotMessage(true, path));
  } else if (saved.error.empty()) {
    postJson(buildSnapshotMessage(false, "Snapshot not saved"));
  } else {
    postJson(buildSnapshotMessage(
        false, "Could not save " + (path.empty() ? std::string("the snapshot") : path) + ": " + saved.error));
  }
}

// --- The project and the code view ---

void PageSession::showProject(const ProjectModel& model, int32_t totalLines, std::string folderName,
                              bool repeat, const std::vector<std::string>* changedKeys) {
  const ProjectFileMap* shown = projectFiles_;
  projectFiles_ = &model.files;
  const bool sameFolder = folderName_ == folderName;
  folderName_ = std::move(folderName);
  totalLOC_ = std::max(totalLines, 0);
  const bool wasPending = std::exchange(pendingShown_, false);
  pendingHeld_.clear();
  const double shownScale = std::exchange(shownScale_, 0.0);
  if (!pageReady_ || (repeat && !wasPending)) {
    // Copies of the keys: a repeat has the same ones.
    if (!repeat) rebuildPageKeys();
    if (repeat) shownScale_ = shownScale;
    return;
  }
  // A few files changed: the page patches its list. The page still holds
  // `shown`, which lives until this call returns.
  std::string update;
  if (shown != nullptr && sameFolder && hasWebView_ && !wasPending) {
    shownScale_ = projectHeatScale(model.files).denominator;
    update = buildProjectUpdateMessage(*shown, model.files, totalLOC_, folderName_,
                                       {changedKeys, shownScale, shownScale_});
  }
  if (!update.empty()) {
    postJson(update);
  } else {
    sendProject();
  }
  // Only the page's commands need these: after the page has its message.
  if (!repeat) rebuildPageKeys();
  sendCode();
  if (shownScale_ == 0.0) shownScale_ = projectHeatScale(model.files).denominator;
}

void PageSession::showPending(std::string json) {
  pendingHeld_.clear();
  if (!pageReady_ || !hasWebView_) {
    pendingHeld_.push_back(std::move(json));
    return;
  }
  pendingShown_ = true;
  postJson(json);
}

void PageSession::fillPending(std::string json) {
  if (!pendingHeld_.empty()) {
    pendingHeld_.push_back(std::move(json));
  } else if (pendingShown_) {
    postJson(json);
  }
}

void PageSession::endPending() {
  pendingHeld_.clear();
  if (!std::exchange(pendingShown_, false)) return;
  if (projectFiles_ == nullptr) {
    postJson(std::string(kDropPendingMessage));
    return;
  }
  sendProject();
  sendCode();
}

void PageSession::rebuildPageKeys() {
  pageKeys_.clear();
  for (const auto& entry : *projectFiles_) {
    if (isValidUtf8(entry.first)) continue;  // shown as it is
    std::string shown = utf16ToUtf8Lossy(utf8ToUtf16(entry.first));
    if (shown == entry.first) continue;
    // Names that differ only in their bad bytes look alike on the page; the
    // first in byte order answers for them all, whatever the map's order.
    auto [slot, added] = pageKeys_.try_emplace(std::move(shown), entry.first);
    if (!added && entry.first < slot->second) slot->second = entry.first;
  }
}

std::string PageSession::keyForPagePath(std::string pagePath) const {
  if (projectFiles_ == nullptr || projectFiles_->find(pagePath) != projectFiles_->end()) return pagePath;
  const auto mapped = pageKeys_.find(pagePath);
  return mapped != pageKeys_.end() ? mapped->second : pagePath;
}

void PageSession::loadIntoCodeView(const std::string& requested) {
  if (projectFiles_ == nullptr) return;
  const std::string path = requested;  // may alias selectedPath_
  lastOpenedFile_ = path;

  if (projectFiles_->find(path) == projectFiles_->end()) {
    selectedPath_.clear();
    codeText_.clear();
    if (pageReady_) sendCode();
    return;
  }

  std::string text;
  // No larger than the stable reader takes: a file that has grown past that
  // since the walk is not pulled into memory whole.
  if (!readWholeFile(utf8ToNative(path), text, kStableReadMaxBytes)) text = kUnreadablePlaceholder;

  selectedPath_ = path;
  codeText_.clear();
  if (pageReady_) sendCode();

  selectedPath_ = path;
  codeText_ = std::move(text);
  if (pageReady_) sendCode();
}

void PageSession::onSelectionGraceOver() {
  platform_.killTimer(Timer::SelectionGrace);
  if (missingSelectionSince_ != 0) sendCode();
}

// --- Messages to the page ---

void PageSession::sendProject() {
  if (!hasWebView_ || projectFiles_ == nullptr) return;
  // One sort of the paths for all three; each goes out as soon as it is
  // built, so the page takes in one while the next is made.
  const SortedFiles sorted(*projectFiles_);
  postJson(buildProjectMessage(sorted, totalLOC_));
  postJson(buildFileLinesMessage(sorted));
  // The page needs each file's scope and the folder's own name, which
  // "projectName" does not give.
  postJson(buildScopeInfoMessage(sorted, folderName_));
}

void PageSession::sendCode() {
  if (!hasWebView_ || projectFiles_ == nullptr) return;

  const auto found = projectFiles_->find(selectedPath_);
  if (found == projectFiles_->end()) {
    const uint64_t now = platform_.monotonicMs();
    if (!selectedPath_.empty()) {
      // An editor may be replacing the file: give the next rescan a moment
      // before the view is blanked.
      if (missingSelectionSince_ == 0) missingSelectionSince_ = now;
      const uint64_t waited = now - missingSelectionSince_;
      if (waited < kMissingSelectionGraceMs) {
        platform_.setTimer(Timer::SelectionGrace, static_cast<uint32_t>(kMissingSelectionGraceMs - waited));
        return;
      }
    }
    missingSelectionSince_ = 0;
    postJson(std::string(kEmptyCodeMessage));
    return;
  }
  if (std::exchange(missingSelectionSince_, 0) != 0) platform_.killTimer(Timer::SelectionGrace);

  std::string text;
  bool unstable = false;
  if (readFileStable(selectedPath_, text, unstable)) {
    codeTextCache_[selectedPath_] = text;
  } else if (!codeText_.empty()) {
    text = codeText_;
  } else {
    const auto cached = codeTextCache_.find(selectedPath_);
    if (cached != codeTextCache_.end()) text = cached->second;
  }
  if (text.empty()) text = codeText_.empty() ? std::string("\n") : codeText_;

  postJson(buildCodeMessage(selectedPath_, text, found->second));
  codeText_ = std::move(text);
  if (follower_ != nullptr) follower_->afterCode(selectedPath_, found->second);
}

void PageSession::sendAudit(FileScope scope, size_t perFile) {
  if (!hasWebView_ || projectFiles_ == nullptr) return;
  const std::vector<AuditItem> items = selectAuditItems(*projectFiles_, kAuditItemLimit, true, scope, perFile);
  postJson(buildAuditMessage(items));
  postJson(buildAuditReasonsMessage(auditReasons(items, *projectFiles_)));
}

void PageSession::answerExplainLine(std::string_view message) {
  if (!hasWebView_ || projectFiles_ == nullptr) return;
  const std::string path = base64Decode(extractJsonString(message, "path_b64"));
  const std::string lineText = extractJsonString(message, "line");
  int32_t line = 0;
  const auto [end, error] = std::from_chars(lineText.data(), lineText.data() + lineText.size(), line);
  if (path.empty() || error != std::errc() || end != lineText.data() + lineText.size()) return;
  const auto file = projectFiles_->find(keyForPagePath(path));
  LineExplanation explanation;
  const bool found = file != projectFiles_->end() && explainFileLine(file->second, line, explanation);
  postJson(buildExplainMessage(path, line, found ? &explanation : nullptr));
}

}  // namespace varnholt_app
