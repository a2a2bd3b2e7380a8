#pragma once
// The report's options for CI: formats for code review tools, what counts as
// a finding, and the gate that fails a build.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/native_string.h"
#include "cli/baseline.h"
#include "cli/findings.h"
#include "model/model.h"

namespace varnholt_app {

enum class ReportFormat { Text, Json, Dump, Sarif, CodeQuality, Checkstyle, Csv };

struct CiOptions {
  std::optional<ReportFormat> format;  // from --format
  bool byFile = false;
  std::optional<double> minHeat;
  std::optional<size_t> maxFindings;
  std::optional<double> failAbove;
  std::optional<NativeString> baseline;
  std::optional<NativeString> writeBaseline;
  std::optional<std::string> changedSince;
  GateTolerance tolerance;
};

// Exit codes of varnholt-report.
inline constexpr int kExitClean = 0;
inline constexpr int kExitUnreadable = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitGateFailed = 3;

// Takes args[i] (and its value, advancing i) when it is one of these
// options. Throws std::string with the reason when it is malformed.
bool parseCiOption(const std::vector<NativeString>& args, size_t& i, CiOptions& options);

// What the run needs before the analysis: the baseline and the changed lines.
struct CiInputs {
  std::optional<Baseline> baseline;
  std::optional<ChangedLines> changed;
};

// Checks the options against each other and reads the baseline and the git
// changes. False with a one-line reason: a usage error.
bool prepareCi(const CiOptions& options, const std::string& folder, CiInputs& inputs,
               std::string& error);

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
// baseline, applies the gate (messages on stderr). Returns the exit code.
int finishCi(const CiOptions& options, const CiInputs& inputs, const ProjectFileMap& files,
             const std::string& folder, const char* toolVersion);

}  // namespace varnholt_app
