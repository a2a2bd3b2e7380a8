#pragma once
// The top-level window "VarnholtMain" with its web host child, and the
// message loop. Decisions go to AppUI; this file only translates window
// messages and keeps the web view sized and hidden during moves.

#include <windows.h>

#include <string>

namespace varnholt_app {

class AppUI;
class Win32Platform;
class WebViewHost;

struct MainWindowParts {
  AppUI& app;
  Win32Platform& platform;
  WebViewHost& webView;
};

// Creates and shows the window, starts the analysis of `folder` when one is
// given, and runs the message loop. Returns the exit code: 0 also when the
// window cannot be created.
int runMainWindow(HINSTANCE instance, int showCommand, MainWindowParts parts,
                  const std::wstring& folder);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK webHostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Fits the host child and the web view to the main window's client area.
void resizeWebHost(HWND main);

}  // namespace varnholt_app
