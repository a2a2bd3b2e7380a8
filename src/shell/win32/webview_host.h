#pragma once
// The WebView2 control inside the host child window: shows our page and
// nothing else, carries JSON messages both ways, and says in the host window
// why when there is no view. Everything here runs on the UI thread.

#include <windows.h>

#include <string>

#include "shell/win32/com_ref.h"
#include "shell/win32/webview2.h"

namespace varnholt_app {

class AppUI;

class WebViewHost {
 public:
  explicit WebViewHost(AppUI& app) : app_(app) {}
  WebViewHost(const WebViewHost&) = delete;
  WebViewHost& operator=(const WebViewHost&) = delete;

  // Asks for the environment; the view arrives later through callbacks.
  // Without the runtime, or when a step fails, the host window gets a line
  // of text instead (its window text, painted by the host window).
  void ensureWebView(HWND host);

  // With tracing, failed steps are logged and DevTools stay available.
  void setTrace(bool trace) { trace_ = trace; }

  // Gives the view the client area of `host`.
  void setBoundsFrom(HWND host);
  // The main window moved: the view repositions its popups.
  void parentMoved(bool inSizeMove);
  // Around an interactive move or resize the view is hidden.
  void hideForSizeMove();
  void showAfterSizeMove();
  // A minimised window's view stops drawing.
  void setMinimized(bool minimized);

  // Posts one JSON text to the page; false without a view.
  bool postJson(const std::u16string& json);

  // Drops the view, closes and drops the controller, drops the environment.
  void release();

 private:
  HRESULT onEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment);
  HRESULT onControllerCreated(HRESULT result, ICoreWebView2Controller* controller);
  HRESULT onNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args);
  HRESULT onNavigationCompleted();
  // True when `result` succeeded; otherwise traces the step.
  bool succeeded(HRESULT result, const char* step) const;
  // The view will not come: says so in the host window.
  void fail(HRESULT result, const char* step);
  void updateVisibility();
  HRESULT onWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args);

  AppUI& app_;
  HWND hwndHost_ = nullptr;
  HMODULE loader_ = nullptr;
  ComRef<ICoreWebView2Environment> environment_;
  ComRef<ICoreWebView2Controller> controller_;
  ComRef<ICoreWebView2> webview_;
  EventRegistrationToken webMessageToken_{};
  EventRegistrationToken navigationCompletedToken_{};
  EventRegistrationToken navigationStartingToken_{};
  bool navigationCompleted_ = false;
  bool viewHidden_ = false;
  bool minimized_ = false;
  bool trace_ = false;
  // Our NavigateToString is under way: the one navigation we allow.
  bool ownNavigationPending_ = false;
  // Read from disk once per process, at the first controller.
  std::wstring uiPageHtml_;
};

}  // namespace varnholt_app
