#pragma once
// The application: every decision of the main window and of the page's
// commands, independent of the desktop it runs on. A backend (win32, linux)
// owns the window and the web view and forwards their events here; this
// class reaches the desktop only through Platform. It owns the two halves:
// the page session (what the page is sent and asks) and the run controller
// (analysis runs, rescans, the watcher and the timers), and beside them the
// history session, which follows the runs' projects with their git history.

#include <string_view>

#include "base/native_string.h"
#include "shell/history_session.h"
#include "shell/page_session.h"
#include "shell/platform.h"
#include "shell/run_controller.h"

namespace varnholt_app {

class AppUI {
 public:
  explicit AppUI(Platform& platform)
      : platform_(platform), runs_(platform, page_), page_(platform, runs_), history_(platform, page_) {
    runs_.onAdopted = [this](const NativeString& root, std::shared_ptr<const ProjectModel> model, bool repeat) {
      history_.onProject(root, std::move(model), repeat);
    };
  }
  AppUI(const AppUI&) = delete;
  AppUI& operator=(const AppUI&) = delete;

  // --- Called by the backend, on the UI thread. ---

  // The main window and its host exist.
  void onCreate() { page_.setWindowExists(true); }
  // The main window is being destroyed, and the backend's dispatcher is
  // closed: stop the watcher, kill the timers, let a running worker go, and
  // end the message loop.
  void onDestroy();
  // A timer of the main window fired. False for an id that is not ours.
  bool onTimer(Timer id);

  // The view exists and the page text was handed to it: queued messages go out.
  void onWebViewReady() { page_.onWebViewReady(); }
  // One message from the page, as UTF-8 JSON text.
  void handleWebMessage(std::string_view json) { page_.handleCommand(json); }
  // The page is being loaded again: nothing goes to it until its "uiReady",
  // which sends the current state once more.
  void onPageReloading() { page_.onPageReloading(); }

  // Analyses `root` on a worker thread (the folder given on the command line).
  void startAnalysis(const NativeString& root, bool keepSelection) { runs_.startAnalysis(root, keepSelection); }

  // Writes every message crossing the bridge to stderr ("< " in, "> " out).
  void setTrace(bool on) { page_.trace = on; }

  PageSession& page() { return page_; }
  RunController& runs() { return runs_; }

 private:
  Platform& platform_;
  // Each knows the other; the runs come first so that the page's listener
  // is a constructed object.
  RunController runs_;
  PageSession page_;
  HistorySession history_;
};

}  // namespace varnholt_app
