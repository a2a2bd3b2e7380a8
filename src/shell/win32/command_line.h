#pragma once
// The program's command line: an optional FOLDER, analysed at start as if
// it had been picked, and --trace, which writes the page traffic to stderr.

#include <string>
#include <vector>

namespace varnholt_app {

struct CommandLine {
  std::wstring folder;  // empty when none was given
  bool trace = false;
};

// `arguments` without the program name. The first plain argument is the
// folder; later ones and unknown "--" options are ignored.
CommandLine parseCommandLine(const std::vector<std::wstring>& arguments);

// The process's arguments without the program name, split the Windows way.
std::vector<std::wstring> commandLineArguments();

// `folder` as an absolute path without trailing separators (a drive root
// keeps its one), the form the folder picker returns.
std::wstring absoluteFolder(const std::wstring& folder);

// Makes stderr reach the console the program was started from: kept when
// the parent already redirected it, otherwise the parent's console. Nothing
// happens when there is no console (started from the desktop).
void attachTraceConsole();

}  // namespace varnholt_app
