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
  void parentMoved();
  // A minimised window's view stops drawing.
  void setMinimized(bool minimized);
  // Puts the keyboard focus into the page; false without a view to take it.
  bool focusView();

  // Posts one JSON text to the page; false without a view or when the view
  // refused it.
  bool postJson(const std::u16string& json);

  // Drops the view, closes and drops the controller, drops the environment.
  // Called while the host window still exists; again at exit, then a no-op.
  void release();

 private:
  HRESULT onEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment);
  HRESULT onControllerCreated(HRESULT result, ICoreWebView2Controller* controller);
  HRESULT onNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args);
  HRESULT onNavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args);
  HRESULT onProcessFailed(ICoreWebView2ProcessFailedEventArgs* args);
  HRESULT onNewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* args);
  HRESULT onWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args);
  template <class Callback, class Add, class Args>
  void listen(Add add, HRESULT (WebViewHost::*handle)(Args*), EventRegistrationToken& token,
              const char* step);
  // Hands our page to the view; paints why when it cannot.
  void showPage();
  // True when `result` succeeded; otherwise traces the step.
  bool succeeded(HRESULT result, const char* step) const;
  // The view will not come: says so in the host window.
  void fail(HRESULT result, const char* step);
  // Hides the view for good and paints `text` in the host window instead.
  void showFailure(const wchar_t* text);
  void updateVisibility();

  AppUI& app_;
  HWND hwndHost_ = nullptr;
  HMODULE loader_ = nullptr;
  ComRef<ICoreWebView2Environment> environment_;
  ComRef<ICoreWebView2Controller> controller_;
  ComRef<ICoreWebView2> webview_;
  EventRegistrationToken webMessageToken_{};
  EventRegistrationToken navigationCompletedToken_{};
  EventRegistrationToken navigationStartingToken_{};
  EventRegistrationToken processFailedToken_{};
  EventRegistrationToken newWindowToken_{};
  bool navigationCompleted_ = false;
  bool minimized_ = false;
  bool failed_ = false;  // the host's painted text replaces the view
  bool trace_ = false;
  // Our NavigateToString was called and its start not seen yet; then the
  // id of that navigation. Only the navigation with that id is ours: the
  // runtime's own error page after a renderer crash also completes one.
  bool ownNavigationPending_ = false;
  UINT64 ownNavigationId_ = 0;
  // Renderer exits in the current minute: a page that kills its renderer
  // each time is not reloaded for ever.
  int renderExits_ = 0;
  ULONGLONG renderExitsSince_ = 0;
  // Read from disk once per process, at the first controller.
  std::wstring uiPageHtml_;
};

}  // namespace varnholt_app
