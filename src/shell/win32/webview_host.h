#pragma once
// The WebView2 control inside the host child window: created through
// WebView2Loader.dll, shows the page, carries JSON messages both ways.
// Everything here runs on the UI thread.

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
  // Without the loader or the runtime there is never a view, silently.
  void ensureWebView(HWND host);

  // Gives the view the client area of `host`.
  void setBoundsFrom(HWND host);
  // The main window moved: the view repositions its popups.
  void parentMoved(bool inSizeMove);
  // Around an interactive move or resize the view is hidden.
  void hideForSizeMove();
  void showAfterSizeMove();

  // Posts one JSON text to the page; false without a view.
  bool postJson(const std::u16string& json);

  // Drops the view, controller and environment, in that order.
  void release();

 private:
  HRESULT onEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment);
  HRESULT onControllerCreated(HRESULT result, ICoreWebView2Controller* controller);
  HRESULT onNavigationCompleted();
  HRESULT onWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args);

  AppUI& app_;
  HWND hwndHost_ = nullptr;
  HMODULE loader_ = nullptr;
  ComRef<ICoreWebView2Environment> environment_;
  ComRef<ICoreWebView2Controller> controller_;
  ComRef<ICoreWebView2> webview_;
  EventRegistrationToken webMessageToken_{};
  EventRegistrationToken navigationCompletedToken_{};
  bool navigationCompleted_ = false;
  bool viewHidden_ = false;
  // Read from disk once per process, at the first controller.
  std::wstring uiPageHtml_;
};

}  // namespace varnholt_app
