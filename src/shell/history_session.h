#pragma once
// The open folder's git history as the page hears it: read on the history
// worker's thread after each adopted project, so the file list and the code
// view never wait for git, and sent as messages of its own ("setHistory",
// "setLineHistory") that a folder without history never sees beyond the
// one that says so. Runs on the UI thread; the worker hands over through
// the platform's dispatcher.

#include <cstdint>
#include <memory>
#include <string>

#include "base/native_string.h"
#include "history/history.h"
#include "model/model.h"
#include "shell/page_session.h"
#include "shell/platform.h"

namespace varnholt_app {

class HistoryWorker;

class HistorySession final : public PageSession::Follower {
 public:
  HistorySession(Platform& platform, PageSession& page);
  ~HistorySession();
  HistorySession(const HistorySession&) = delete;
  HistorySession& operator=(const HistorySession&) = delete;

  // A project was adopted (a rescan too): scores follow its heat, and the
  // history is read again or brought up to the folder's HEAD.
  void onProject(const NativeString& root, std::shared_ptr<const ProjectModel> model, bool repeat);
  // The window is going: a read under way stops.
  void onDestroy();

  void afterCode(const std::string& path, const ProjectFile& file) override;
  void afterPageReady() override;

  // What the worker hands over, on the UI thread.
  void onProgress(const std::string& folder, size_t done, size_t total);
  void onHistory(const std::string& folder, std::shared_ptr<const History> history);

 private:
  void sendFiles();
  void sendShownLines();

  Platform& platform_;
  PageSession& page_;
  std::unique_ptr<HistoryWorker> worker_;  // from the first project on
  std::string folder_;                     // UTF-8, the one the page shows
  std::shared_ptr<const ProjectModel> model_;
  std::shared_ptr<const History> history_;  // of folder_, or null
  size_t done_ = 0;
  size_t total_ = 0;
  uint64_t lastProgressMs_ = 0;
};

// The messages, from the values they are given.
std::string buildHistoryProgressMessage(size_t done, size_t total);
std::string buildHistoryMessage(const History& history, const ProjectFileMap& files, const std::string& root);
// `file` null: nothing of it changed in the window.
std::string buildLineHistoryMessage(std::string_view path, const FileHistory* file);

}  // namespace varnholt_app
