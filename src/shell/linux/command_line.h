#pragma once
// The program's few command-line words: an optional folder to open at start,
// --trace, --help and --version.

#include <string>
#include <vector>

namespace varnholt_app {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  bool trace = false;
  std::string folder;  // as given; empty when none
  std::string error;   // for Action::Error
};

// `args` without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();
std::string versionText();

// `folder` made absolute against `currentDir`, with "." and ".." segments,
// repeated and trailing slashes removed (symbolic links are kept as named).
std::string absoluteFolder(const std::string& folder, const std::string& currentDir);

}  // namespace varnholt_app
