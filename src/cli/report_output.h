#pragma once
// What varnholt-report prints on stdout: the text report for a terminal,
// the breakdown of one line, the page's messages (--json) and the raw
// figures (--dump).

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/native_string.h"
#include "model/model.h"
#include "project/project_analysis.h"

namespace varnholt_app {

bool isTerminal(FILE* stream);
void writeBytes(std::string_view bytes);

// Bytes that would steer a terminal (escape sequences, carriage returns)
// are shown as "?".
std::string printable(std::string_view text);
// 1234567 as "1,234,567".
std::string withGrouping(int64_t value);

// The files of a run that take part, after --scope.
struct ScopeCut {
  size_t analysedFiles = 0;
  std::string note;  // for the report's header; empty for all files
};

// The header, the hottest files and the hottest lines. `shown` is the files
// the report lists: all of them, or with --changed-since only the changed
// ones, their other lines NaN.
void printReport(const ProjectAnalysis& analysis, const ProjectFileMap& shown,
                 const std::string& root, size_t top, bool byDensity, bool colour,
                 const ScopeCut& cut);

// --explain FILE:LINE: the breakdown of one line, largest contribution first,
// or with `json` one JSON object. Throws Failure when the file cannot be
// read or has no such line.
void printExplanation(const NativeString& path, int32_t line, bool json, bool colour);

// --json: the project, audit and file-lines messages, one per line.
void printJson(const ProjectAnalysis& analysis);
// --dump: every file's line heat, one JSON object per line in path order,
// with every line's terms when `explain`; then the line total.
void printDump(const ProjectAnalysis& analysis, bool explain);

}  // namespace varnholt_app
