#pragma once
// The desktop program's few command-line words, the same on every platform:
// an optional folder to open at start, --trace, --help and --version.

#include <string>
#include <vector>

#include "base/native_string.h"

namespace varnholt_app {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  bool trace = false;
  NativeString folder;  // as given until checkFolder; empty when none
  std::string text;     // UTF-8, for every action but Run: what to show
};

// `args` without the program name. "--" ends the options; a second folder,
// an empty one or an unknown option is a usage error.
CommandLine parseCommandLine(const std::vector<NativeString>& args);

// Makes the folder absolute, or turns the command line into an error when
// it names no folder. Nothing happens without a folder.
void checkFolder(CommandLine& commandLine);

// 0 after --help or --version, 2 after an error.
int commandLineExitCode(const CommandLine& commandLine);

}  // namespace varnholt_app
