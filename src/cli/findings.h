#pragma once
// Findings: the hot lines that the CI formats and the gate work on.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace varnholt_app {

enum class Severity { Note, Warning, Error };

// Severity bands on the line's raw heat put on the project's 0..1 scale, the
// one the file list uses (log scale against the 95th percentile of the
// files' heat).
inline constexpr double kErrorBand = 0.75;
inline constexpr double kWarningBand = 0.6;
Severity severityFor(double projectHeat);

struct Finding {
  std::string path;  // relative to the analysed folder, "/" separated
  int32_t line = 0;
  double heatRaw = 0.0;
  double projectHeat = 0.0;  // 0..1 on the project's scale
  Severity severity = Severity::Note;
  // Path, the line's text with its blanks normalised and how many lines
  // above it in the file have that same text: survives edits elsewhere.
  std::string fingerprint;  // 16 lower-case hex digits
};

// Lines added or changed, by relative path.
struct LineRange {
  int32_t first = 0;
  int32_t last = 0;
};
using ChangedLines = std::map<std::string, std::vector<LineRange>, std::less<>>;

struct FindingOptions {
  double minHeat = 0.0;  // lines need more than 0 and at least this
  size_t maxFindings = 30;
  const ChangedLines* changed = nullptr;  // null: every line counts
};

struct FindingSet {
  std::vector<Finding> findings;  // hottest first, as the audit orders them
  bool cutByCount = false;        // more lines qualified than maxFindings
  size_t qualified = 0;           // lines the options let in, however many were listed
  double hottestInScope = 0.0;    // the hottest line the options let in
  std::string hottestWhere;       // as "path:line"
};

// `root` is the analysed folder as the model's paths begin with it.
FindingSet selectFindings(const ProjectFileMap& files, std::string_view root,
                          const FindingOptions& options);

// The path below `root` with "/" separators.
std::string relativeSlashPath(std::string_view path, std::string_view root);

// The files with changed lines, each line outside the changes with a NaN
// heat, which the audit ranks below all others.
ProjectFileMap changedPart(const ProjectFileMap& files, std::string_view root,
                           const ChangedLines& changed);

// The changed lines of a file by its relative path; null when none changed.
// An entry ending in "/" stands for every file below that folder.
const std::vector<LineRange>* changedRangesFor(const ChangedLines& changed,
                                               std::string_view relativePath);

}  // namespace varnholt_app
