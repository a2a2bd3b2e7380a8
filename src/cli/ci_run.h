#pragma once
// The report's run for CI: formats for code review tools, what counts as a
// finding, and the gate that fails a build.

#include <cstddef>
#include <optional>
#include <string>

#include "base/native_string.h"
#include "cli/baseline.h"
#include "cli/findings.h"
#include "cli/report_options.h"
#include "model/model.h"

namespace varnholt_app {

// What the run needs before the analysis: the baseline and the changed lines.
struct CiInputs {
  std::optional<Baseline> baseline;
  std::optional<ChangedLines> changed;
};

// Checks the options against each other and reads the baseline and the git
// changes. Throws Failure: a usage error.
CiInputs prepareCi(const CiOptions& options, const std::string& folder);

// Whether the run keeps to files whose real path lies inside the folder:
// the CI formats and --changed-since print lines into build logs, and a
// committed link must not carry a file from elsewhere into them.
bool keepsInsideFolder(const CiOptions& options);
// Drops the files reached through links that lead outside `folder`.
// Returns how many were dropped.
size_t dropFilesOutside(ProjectFileMap& files, const NativeString& folder);

// Whether the run needs findings at all.
bool needsFindings(const CiOptions& options);

// Prints the findings in a CI format when one was chosen, writes the
// baseline, applies the gate (messages on stderr). Returns kExitClean or
// kExitGateFailed; throws Failure when the baseline cannot be written.
int finishCi(const CiOptions& options, const CiInputs& inputs, const ProjectFileMap& files,
             const std::string& folder, const char* toolVersion);

}  // namespace varnholt_app
