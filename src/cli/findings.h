#pragma once
// Findings: the hot lines that the CI formats and the gate work on.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace varnholt_app {

enum class Severity : uint8_t { Note, Warning, Error };

// Severity bands on the line's raw heat put on the project's 0..1 scale, the
// one the file list uses (log scale against the 95th percentile of the
// files' heat).
inline constexpr double kErrorBand = 0.75;
inline constexpr double kWarningBand = 0.6;
Severity severityFor(double projectHeat);

// A run may list millions of findings, so each is kept small: the path is
// shared by the findings of a file and the fingerprint is a number.
struct Finding {
  std::string_view path;  // relative to the analysed folder, "/" separated; in FindingSet::paths
  // Path, the line's text with its blanks normalised and how many lines
  // above it in the file have that same text: survives edits elsewhere.
  uint64_t fingerprint = 0;
  double heatRaw = 0.0;
  double projectHeat = 0.0;  // 0..1 on the project's scale
  int32_t line = 0;
  Severity severity = Severity::Note;
};

// A fingerprint as it is written: 16 lower-case hex digits.
struct FingerprintText {
  char digits[16];
  std::string_view view() const { return {digits, sizeof digits}; }
};
FingerprintText fingerprintText(uint64_t fingerprint);

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
  // One relative path per file with findings. A deque never moves its
  // strings, so the findings' views stay valid when the set is moved.
  std::deque<std::string> paths;

  FindingSet() = default;
  FindingSet(FindingSet&&) = default;
  FindingSet& operator=(FindingSet&&) = default;
  // A copy's findings would still view the original's paths.
  FindingSet(const FindingSet&) = delete;
  FindingSet& operator=(const FindingSet&) = delete;
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
