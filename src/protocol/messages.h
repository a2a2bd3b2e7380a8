#pragma once
// The messages the native side sends to the page, as UTF-8 JSON.
// They are posted as built; a backend whose view wants UTF-16 converts them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "project/file_scope.h"

namespace varnholt_app {

// --- "setProject" ---

// Name of the folder holding the map's first file, else that file's name,
// else "Varnholt".
std::string projectNameFor(const ProjectFileMap& files);

// The 0..1 file heat of the project message: log scale against the 95th
// percentile of the files' raw heat (at least 1).
struct ProjectHeatScale {
  double denominator = 0.0;  // log1p of the reference
  double heat01(double heatRaw) const;
};
ProjectHeatScale projectHeatScale(const ProjectFileMap& files);

// Files in byte-wise path order, each with its heat on the project scale.
std::string buildProjectMessage(const ProjectFileMap& files, int32_t totalLOC);

// Each file's line count (the ones "totalLOC" adds up), in the file order
// of the project message, so the page can size its overview map:
// {"type":"setFileLines","lines":[...]}.
std::string buildFileLinesMessage(const ProjectFileMap& files);

// Heat density: raw heat per line, over at least kDensityMinLines lines, so a
// file of a few lines with one hot line does not outrank whole modules; 50
// lines is about one screen. Lines as "setFileLines" counts them.
inline constexpr size_t kDensityMinLines = 50;
double heatDensity(const ProjectFile& file);

// --- "setCode" ---

// Sent when nothing is selected or the selection has left the project.
inline constexpr std::string_view kEmptyCodeMessage =
    R"({"type":"setCode","path":"","code_b64":"","lineHeat":[],"lineCV":[],"fileHeatCV":0})";

// The text (never empty) with one heat value per line. The line count is the
// number of line feeds plus one; heat entries beyond it are dropped, but still
// count towards the file's reference value.
std::string buildCodeMessage(std::string_view path, std::string_view text,
                             const ProjectFile& file);

// --- "setAudit" ---

inline constexpr std::string_view kAuditHint = "Whole codebase \xC2\xB7 Click a row to jump";
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

std::string buildAuditMessage(const std::vector<AuditItem>& items);

// --- "setProgress" ---

// Where the analysis run stands: working (files done of total; total 0 while
// the walk is still counting), finished, failed, or its folder is gone.
enum class RunState { Busy, Idle, Failed, Missing };

// `done` and `total` go out only for Busy, `text` only for Failed and Missing.
// A Busy run of a folder the page does not show yet names it (`folderName`).
std::string buildProgressMessage(RunState state, uint64_t done = 0, uint64_t total = 0,
                                 std::string_view text = {}, std::string_view folderName = {});

// --- "setSnapshot" ---

// Whether the snapshot was written: where to on success, why not otherwise.
std::string buildSnapshotMessage(bool ok, std::string_view pathOrText);

// --- "setScopeInfo" ---

// The opened folder's name, and the files each narrower scope leaves out, in
// path order: "notCode" (prose and data) and "testOrGenerated" (code files
// that are tests or generated; "nontest" leaves out both lists).
std::string buildScopeInfoMessage(const ProjectFileMap& files, std::string_view folderName);

}  // namespace varnholt_app
