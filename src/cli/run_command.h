#pragma once
// Runs a program found on the PATH and collects its standard output.

#include <string>
#include <vector>

namespace varnholt_app {

struct CommandResult {
  bool started = false;
  int exitCode = -1;  // -1 also when it did not end normally
  std::string out;
};

// `argv` in UTF-8, the program first. Its standard error is discarded, or
// with `withErrors` collected in `out` too, to tell why it failed.
CommandResult runCommand(const std::vector<std::string>& argv, bool withErrors = false);

}  // namespace varnholt_app
