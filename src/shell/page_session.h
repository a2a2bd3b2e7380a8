#pragma once
// The page's side of the application: the messages it is sent (held back
// until the view exists), the commands it sends, and the selected file with
// its code view. Runs on the UI thread only.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/fnv1a.h"
#include "model/model.h"
#include "project/file_scope.h"
#include "shell/platform.h"

namespace varnholt_app {

class PageSession {
 public:
  // What the page asks of the runs.
  class Listener {
   public:
    // "uiReady" was answered with the project and the code view.
    virtual void onPageReady() = 0;
    // "pickFolder", once the handler that received it has returned.
    virtual void onPickFolder() = 0;

   protected:
    ~Listener() = default;
  };

  // Sends messages of its own after some of the page's.
  class Follower {
   public:
    // A "setCode" for this project file went out.
    virtual void afterCode(const std::string& path, const ProjectFile& file) = 0;
    // "uiReady" was answered.
    virtual void afterPageReady() = 0;

   protected:
    ~Follower() = default;
  };

  PageSession(Platform& platform, Listener& listener) : platform_(platform), listener_(listener) {}
  PageSession(const PageSession&) = delete;
  PageSession& operator=(const PageSession&) = delete;

  // Between the window's creation and its destruction; commands that need
  // the window do nothing outside it.
  void setWindowExists(bool exists);
  // The view exists and the page text was handed to it: queued messages go out.
  void onWebViewReady();
  // The page is being loaded again: nothing goes to it until its "uiReady".
  void onPageReloading() { pageReady_ = false; }
  // One command from the page, as UTF-8 JSON text.
  void handleCommand(std::string_view json);
  // The grace of a selected file that left the project is over.
  void onSelectionGraceOver();

  // The project shown from now on; `model` stays alive until the next call.
  // A repeat (a rescan that changed nothing) is taken silently.
  // `changedKeys`: the only keys whose records may differ from the project
  // shown before, when the rescan knows them; null otherwise.
  void showProject(const ProjectModel& model, int32_t totalLines, std::string folderName, bool repeat,
                   const std::vector<std::string>* changedKeys = nullptr);
  // A first run's list of walked files, then its batches of finished ones
  // (as PendingList builds them): shown until the run's project replaces
  // the list or endPending drops it.
  // A page not ready yet gets them with its project.
  void showPending(std::string json);
  void fillPending(std::string json);
  // The run ended without a project: a pending list gives way to the
  // project shown before it, or to none.
  void endPending();
  // Loads `path` of the project into the code view afresh.
  void loadIntoCodeView(const std::string& path);
  const std::string& lastOpenedFile() const { return lastOpenedFile_; }
  // The file the code view shows or was asked for.
  const std::string& shownPath() const { return selectedPath_; }
  void setFollower(Follower* follower) { follower_ = follower; }

  // Whether the page has said "uiReady" since it was (re)loaded.
  bool ready() const { return pageReady_; }
  // Sends one message, or queues it until the view exists.
  void postJson(const std::string& utf8);

  // Writes every message crossing the bridge to stderr ("< " in, "> " out).
  bool trace = false;

 private:
  void sendProject();
  void sendCode();
  void sendAudit(FileScope scope, size_t perFile);
  // "explainLine": why one line of a project file is as hot as it is.
  void answerExplainLine(std::string_view command);
  void requestSnapshotSave(std::string_view command);
  void saveSnapshot(const std::string& fileName, const std::string& pngBytes);
  void rebuildPageKeys();
  std::string keyForPagePath(std::string pagePath) const;

  Platform& platform_;
  Listener& listener_;
  Follower* follower_ = nullptr;
  bool windowExists_ = false;
  bool hasWebView_ = false;
  bool pageReady_ = false;
  // The page shows a pending list instead of projectFiles_.
  bool pendingShown_ = false;
  // A pending list and its fills that came before the page was ready.
  std::vector<std::string> pendingHeld_;
  std::vector<std::string> outbox_;

  const ProjectFileMap* projectFiles_ = nullptr;
  int32_t totalLOC_ = 0;
  // The heat scale's denominator of the project the page holds; 0: unknown.
  double shownScale_ = 0.0;
  std::string folderName_;  // the open folder's own name
  std::string selectedPath_;
  std::string codeText_;
  std::string lastOpenedFile_;
  uint64_t missingSelectionSince_ = 0;
  // Text of the last successful read per path, shown when a later read fails.
  std::unordered_map<std::string, std::string, Fnv1aHash, std::equal_to<>> codeTextCache_;
  // A key that is not valid UTF-8 reaches the page with U+FFFD in place of
  // its bad bytes, and comes back that way: the shown text to the real key,
  // for those keys only.
  std::unordered_map<std::string, std::string, Fnv1aHash, std::equal_to<>> pageKeys_;
};

}  // namespace varnholt_app
