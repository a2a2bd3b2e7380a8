#pragma once
// Runs a program such as git (found on the PATH) and hands its standard output over in chunks,
// so that a long log never has to sit in memory at once.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnholt_app {

struct ProcessOutcome {
  bool started = false;
  bool stopped = false;  // the sink asked to stop; the process was ended
  int exitCode = -1;     // -1 also when it did not end normally
};

// `argv` in UTF-8, the program first. Standard error is discarded, or with
// `withErrors` sent to `sink` too, to tell why the program failed. `sink`
// returns false to end the process early.
ProcessOutcome streamCommand(const std::vector<std::string>& argv,
                             const std::function<bool(std::string_view)>& sink, bool withErrors = false);

// The whole standard output; empty when the program could not start.
struct CapturedOutput {
  ProcessOutcome outcome;
  std::string out;
};
CapturedOutput captureCommand(const std::vector<std::string>& argv, bool withErrors = false);

// A path as git prints it, its C quotes ("a\tb\303\244") undone.
std::string unquoteGitPath(std::string_view text);

}  // namespace varnholt_app
