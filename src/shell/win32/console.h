#pragma once
// The Windows program is a GUI program: it has no console of its own. These
// reach the one it was started from, if any.

#include <string>
#include <vector>

namespace varnholt_app {

// The process's arguments without the program name, split the Windows way.
std::vector<std::wstring> commandLineArguments();

// Shows the text of --help, --version or a usage error (UTF-8): on the
// handle the parent gave (stdout, or stderr for an error), else on the
// parent's console, else in a message box.
void showCommandLineText(const std::string& text, bool error);

// Makes stderr reach the console the program was started from: kept when
// the parent already redirected it, otherwise the parent's console. Nothing
// happens when there is no console (started from the desktop).
void attachTraceConsole();

}  // namespace varnholt_app
