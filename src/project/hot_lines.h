#pragma once
// Queries on an analysed project: its heat scales, the hottest lines (the
// audit) and why a line is hot. The page's messages and the report's
// rankings are both built on these.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/explain.h"
#include "model/model.h"
#include "project/file_scope.h"

namespace varnholt_app {

// A log scale from raw heat to 0..1 against a reference heat.
struct HeatScale {
  double denominator = 0.0;  // log1p of the reference
  double heat01(double heatRaw) const;
};

// The project's file scale: the 95th percentile of the files' raw heat (at
// least 1).
HeatScale projectHeatScale(const ProjectFileMap& files);
// The same scale from the files' raw heats alone, NaN given as 0; the heats
// may be reordered.
HeatScale projectHeatScaleOf(std::vector<double>& heats);
// One file's line scale: the 95th percentile of its positive line heats.
HeatScale fileLineHeatScale(const ProjectFile& file);

// Heat density: raw heat per line, over at least kDensityMinLines lines, so a
// file of a few lines with one hot line does not outrank whole modules; 50
// lines is about one screen. Lines as "setFileLines" counts them.
inline constexpr size_t kDensityMinLines = 50;
double heatDensity(const ProjectFile& file);

inline constexpr size_t kAuditItemLimit = 30;

struct AuditItem {
  std::string path;
  int32_t lineStart = 0;
  int32_t lineEnd = 0;
  double cv = 0.0;          // the line's raw heat
  std::string kind = "line";
  std::string preview;      // the line's text, tabs as blanks, at most 140 bytes
  double heat01 = 0.0;      // cv relative to the file's heat, 0..1
};

// A line as the audit ranks it, pointing into the map it was chosen from.
struct HotLine {
  double key;  // the line's raw heat, NaN taken as -infinity
  const std::string* path;
  const ProjectFile* file;
  size_t index;  // line number - 1
};

// The `limit` hottest lines of the project, hottest first; equal heat is
// ordered by path bytes, then line number. Files outside `scope` take no
// part. With `perFile` above 0 no file gives more than that many lines: the
// hottest lines of each file compete. Reads no file.
std::vector<HotLine> selectHotLines(const ProjectFileMap& files, size_t limit,
                                    FileScope scope = FileScope::All, size_t perFile = 0);

// The hot lines as the page lists them. Reads only the files that own a
// selected line, for the previews, and none without `previews`.
std::vector<AuditItem> selectAuditItems(const ProjectFileMap& files,
                                        size_t limit = kAuditItemLimit, bool previews = true,
                                        FileScope scope = FileScope::All, size_t perFile = 0);

// The explanation of one line of a project file, read again from disk;
// false when the file cannot be read or has no such line.
bool explainFileLine(const ProjectFile& file, int32_t line, LineExplanation& out);

// A short reason per audit item, in the items' order ("" where none);
// each file is read and explained once.
std::vector<std::string> auditReasons(const std::vector<AuditItem>& items,
                                      const ProjectFileMap& files);

}  // namespace varnholt_app
