#pragma once
// The messages the native side sends to the page, as UTF-8 JSON, built from
// values they are given: nothing here reads a file. They are posted as built;
// a backend whose view wants UTF-16 converts them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/model.h"
#include "project/hot_lines.h"

namespace varnholt_app {

// --- "setProject" ---

// The name of the folder holding one of the files, else that file's name,
// else "Varnholt". The file is the first in the map's hash order, so with
// files in several folders it is not defined which folder names the project.
std::string projectNameFor(const ProjectFileMap& files);

// The files in byte-wise path order, sorted once for the three messages
// that list them ("setProject", "setFileLines", "setScopeInfo"); the map
// must outlive it.
class SortedFiles {
 public:
  explicit SortedFiles(const ProjectFileMap& files);
  const ProjectFileMap& files() const { return files_; }
  size_t pathBytes() const { return pathBytes_; }
  struct Entry {
    std::string_view path;
    const ProjectFile* file;
  };
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  const ProjectFileMap& files_;
  size_t pathBytes_ = 0;
  std::vector<Entry> entries_;
};

// Files in byte-wise path order, each with its heat on the project scale.
std::string buildProjectMessage(const SortedFiles& sorted, int32_t totalLOC);
inline std::string buildProjectMessage(const ProjectFileMap& files, int32_t totalLOC) {
  return buildProjectMessage(SortedFiles(files), totalLOC);
}

// Each file's line count (the ones "totalLOC" adds up), in the file order
// of the project message, so the page can size its overview map:
// {"type":"setFileLines","lines":[...]}.
std::string buildFileLinesMessage(const SortedFiles& sorted);
inline std::string buildFileLinesMessage(const ProjectFileMap& files) {
  return buildFileLinesMessage(SortedFiles(files));
}

// --- "updateProject" ---

// At most this many files changed, appeared or went: the page is sent
// "updateProject" instead of the whole project again. Past it, rebuilding
// the list from "setProject" costs the page no more than patching it.
inline constexpr size_t kProjectUpdateLimit = 512;

// What the page needs to turn the project `before` into `after`: every file
// that is new or whose heat, line count or scope class changed (with those),
// the paths gone, the new totals, and the project's heat scale when it
// moved. Empty when more than `limit` files would be listed or no file is
// kept: then "setProject" is the cheaper message.
// `changedKeys`, when not null, lists every key whose record may differ
// between the two maps (a guided rescan knows them): the others are taken
// as equal unseen. The scales' denominators, when the caller has them (0:
// worked out here), spare a pass over each map.
struct ProjectUpdateHints {
  const std::vector<std::string>* changedKeys = nullptr;
  double beforeScale = 0.0;
  double afterScale = 0.0;
};
std::string buildProjectUpdateMessage(const ProjectFileMap& before, const ProjectFileMap& after,
                                      int32_t totalLOC, std::string_view folderName,
                                      const ProjectUpdateHints& hints = {},
                                      size_t limit = kProjectUpdateLimit);

// --- The list while a first run goes on ---

// The files a first run has walked, shown before any is analysed, and their
// figures as batches of them are finished. Used by one thread at a time.
class PendingList {
 public:
  // {"type":"setPendingProject","projectName":N,"folderName":F,"root":R,"paths":[...],"notCode":[...]}:
  // the paths in the project message's order, each less the folder R (up
  // to its separator) that all of them share; "notCode" the indices (into
  // "paths") of the files outside "code" by their language. The records
  // need to live as long as this list is filled.
  std::string start(const ProjectFileMap& files, std::string_view folderName);
  // {"type":"fillPendingProject","heatScaleLog":L,"files":[[i,heatCV,lines,scope],...]}:
  // each file by its index, heat, line count and scope class as
  // "updateProject" gives them; "heatScaleLog" the project scale of all
  // the files filled so far. Files not in the started list are left out.
  std::string fill(const std::vector<const ProjectFile*>& batch);

 private:
  std::unordered_map<const ProjectFile*, uint32_t> index_;
  std::vector<double> heats_;  // of every file filled so far
};

// Tells the page that shows a pending list to drop it: its run ended
// without a project.
inline constexpr std::string_view kDropPendingMessage = R"({"type":"dropPendingProject"})";

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
// The items as selectAuditItems gives them.
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
std::string buildScopeInfoMessage(const SortedFiles& sorted, std::string_view folderName);
inline std::string buildScopeInfoMessage(const ProjectFileMap& files, std::string_view folderName) {
  return buildScopeInfoMessage(SortedFiles(files), folderName);
}

}  // namespace varnholt_app
