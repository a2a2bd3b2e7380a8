#pragma once
// Runs a program to its end with its output captured, for tests of
// command-line tools.

#include <string>
#include <vector>

#include "base/native_string.h"

namespace varnholt_app::testing {

struct ProcessResult {
  int exitCode = -1;  // -1: could not be started or did not exit normally
  std::string out;
  std::string err;
};

// Standard output and error go to temporary files in `scratchDir`.
ProcessResult runProcess(const NativeString& program, const std::vector<NativeString>& args,
                         const NativeString& scratchDir);

}  // namespace varnholt_app::testing
