#pragma once
// A whole analysis run: walk the folder, analyse every file, total the lines.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/native_string.h"
#include "model/model.h"

namespace varnholt_app {

struct AnalysisProgress {
  size_t filesDone = 0;
  size_t filesTotal = 0;
  int64_t bytesDone = 0;  // bytes of the files done so far
};

struct AnalyzeOptions {
  // Threads for the walk and the per-file work; 0: two per hardware thread.
  int threads = 0;
  // Called on the calling thread now and then while files are analysed, and
  // once more when all are done. Optional.
  std::function<void(const AnalysisProgress&)> progress;
  // The model of an earlier run of the same folder, or null. A file whose
  // record there is still good (reusesRecord) keeps its results, shared with
  // that model, instead of being read again. The model is only read.
  const ProjectModel* previous = nullptr;
  // With `previous`: every path created, changed, moved or deleted below
  // the root since that model was made, as the folder watcher named them.
  // Only those (and files stamped close to the previous walk) are looked at
  // again instead of walking the whole tree. Where the paths cannot settle
  // it (a folder appeared, a link on the way, too many of them) the whole
  // tree is walked after all. Null: walk.
  const std::vector<NativeString>* changedPaths = nullptr;
  // With `changedPaths`: hands over a copy of previous->files made ahead of
  // the run, when there is one, for a guided scan to take instead of copying
  // them itself. Optional.
  std::function<bool(ProjectFileMap& copy)> takePreparedCopy;
  // Called on the calling thread once the files are known, before any is
  // analysed; the model is only read, and only during the call. Optional.
  std::function<void(const ProjectModel&)> walked;
  // Called on the analysing threads, possibly at once, for every file
  // analysed in this run (not those taken over) once its record is
  // complete. Optional.
  std::function<void(const ProjectFile&)> analysed;
};

struct ProjectAnalysis {
  ProjectModel model;
  int32_t totalLines = 0;  // sum of every file's line count, saturating
  // The same keys in the same order as the previous model, and every file
  // either taken over or read again with the same bytes (a file stamped
  // close to the last walk, or touched): the result repeats that model.
  bool sameAsPrevious = false;
  // The changed paths sufficed: no walk was made.
  bool guided = false;
  // With `guided`: every key whose record may differ from the previous
  // model's (read again, new or gone); every other record is the same.
  std::vector<std::string> changedKeys;
};

// True when `fresh`, as the walk just saw it, is the file `old` describes:
// same language and same stamp (volume, file number, size, write and change
// times), and `old` was stamped clearly before its walk began. A time close
// to the start of that walk may hide a later write in the same clock tick,
// so such a file is read again.
bool reusesRecord(const ProjectFile& old, int64_t oldScanStart, const ProjectFile& fresh);

// Walks `root`, analyses every file and counts the project's lines. The
// model's iteration order depends on its keys only. The result is the same
// for every thread count: files are independent, and each is analysed
// exactly as in one pass over the keys in byte order. With a previous model
// (and changed paths) the result is the same as without, only cheaper.
// Errors of the walk (and allocation failures) propagate; no partial result
// survives them.
ProjectAnalysis analyzeProject(const NativeString& root, const AnalyzeOptions& options = {});

}  // namespace varnholt_app
