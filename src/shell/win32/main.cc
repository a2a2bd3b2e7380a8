// Process entry of the Windows program.

#include <windows.h>

#include "shell/app_ui.h"
#include "shell/command_line.h"
#include "shell/win32/console.h"
#include "shell/win32/main_window.h"
#include "shell/win32/webview_host.h"
#include "shell/win32/win32_platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  using namespace varnholt_app;
  // Before anything loads a DLL by name: the current folder and the PATH
  // are not searched, only our folder, System32 and added folders.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  CommandLine commandLine = parseCommandLine(commandLineArguments());
  checkFolder(commandLine);
  if (commandLine.action != CommandLine::Action::Run) {
    showCommandLineText(commandLine.text, commandLine.action == CommandLine::Action::Error);
    return commandLineExitCode(commandLine);
  }
  if (commandLine.trace) attachTraceConsole();

  // The UI thread is a single-threaded apartment for the whole run, as the
  // web view and the shell dialogs require.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  int exitCode = 0;
  {
    Win32Platform platform;
    AppUI app(platform);
    WebViewHost webView(app);
    platform.setWebViewHost(&webView);
    app.setTrace(commandLine.trace);
    webView.setTrace(commandLine.trace);
    exitCode = runMainWindow(instance, showCommand, {app, platform, webView}, commandLine.folder);
    // Released on WM_DESTROY already; whatever is left goes before the
    // apartment does.
    webView.release();
  }
  CoUninitialize();
  return exitCode;
}
