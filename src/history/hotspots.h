#pragma once
// Hotspots: code that is hot and changes often. A file scores the
// percentile of its heat times the percentile of its change frequency
// (0..1); a line scores its raw heat times its change count in the window.

#include <string>
#include <vector>

#include "history/history.h"
#include "model/model.h"

namespace varnholt_app {

struct FileHotspot {
  const ProjectFile* file = nullptr;
  std::string relativePath;             // "/" separated, below the folder
  const FileHistory* history = nullptr;  // null: no change in the window
  double heatPercentile = 0.0;
  double changePercentile = 0.0;
  double score = 0.0;
};

struct LineHotspot {
  const ProjectFile* file = nullptr;
  std::string relativePath;
  int32_t line = 0;
  double heatRaw = 0.0;
  LineHistory history;
  double score = 0.0;
};

// The path of `path` (a full path as the walk writes it) below `root`,
// with "/" separators; empty when it is not below.
std::string pathBelow(const std::string& path, const std::string& root);

// Every file of `files`, highest score first (ties: path order). The
// percentile of a value is the share of files whose value is at most it;
// a heat or frequency of 0 has percentile 0.
std::vector<FileHotspot> rankFileHotspots(const ProjectFileMap& files, const History& history,
                                          const std::string& root);

// The `limit` lines with the highest score above 0, highest first.
std::vector<LineHotspot> topLineHotspots(const ProjectFileMap& files, const History& history,
                                         const std::string& root, size_t limit);

}  // namespace varnholt_app
