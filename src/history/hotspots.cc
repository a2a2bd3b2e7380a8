#include "history/hotspots.h"

#include <algorithm>
#include <cmath>

namespace varnholt_app {
namespace {

// The share of `sorted` that is at most each value; 0 for values <= 0.
double percentile(const std::vector<double>& sorted, double value) {
  if (!(value > 0) || sorted.empty()) return 0.0;
  const auto upper = std::upper_bound(sorted.begin(), sorted.end(), value);
  return static_cast<double>(upper - sorted.begin()) / static_cast<double>(sorted.size());
}

}  // namespace

std::string pathBelow(const std::string& path, const std::string& root) {
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  size_t rootEnd = root.size();
  while (rootEnd > 0 && separator(root[rootEnd - 1])) --rootEnd;
  if (path.size() <= rootEnd + 1 || path.compare(0, rootEnd, root, 0, rootEnd) != 0 ||
      !separator(path[rootEnd])) {
    return {};
  }
  std::string below = path.substr(rootEnd + 1);
#ifdef _WIN32
  std::replace(below.begin(), below.end(), '\\', '/');
#endif
  return below;
}

std::vector<FileHotspot> rankFileHotspots(const ProjectFileMap& files, const History& history,
                                          const std::string& root) {
  std::vector<FileHotspot> ranked;
  ranked.reserve(files.size());
  std::vector<double> heats, frequencies;
  for (const auto& [path, file] : files) {
    FileHotspot spot;
    spot.file = &file;
    spot.relativePath = pathBelow(path, root);
    spot.history = history.find(spot.relativePath);
    heats.push_back(file.heatRaw);
    frequencies.push_back(spot.history ? spot.history->frequency : 0.0);
    ranked.push_back(std::move(spot));
  }
  std::sort(heats.begin(), heats.end());
  std::sort(frequencies.begin(), frequencies.end());
  for (FileHotspot& spot : ranked) {
    spot.heatPercentile = percentile(heats, spot.file->heatRaw);
    spot.changePercentile = percentile(frequencies, spot.history ? spot.history->frequency : 0.0);
    spot.score = spot.heatPercentile * spot.changePercentile;
  }
  std::sort(ranked.begin(), ranked.end(), [](const FileHotspot& a, const FileHotspot& b) {
    return a.score != b.score ? a.score > b.score : a.file->path < b.file->path;
  });
  return ranked;
}

std::vector<LineHotspot> topLineHotspots(const ProjectFileMap& files, const History& history,
                                         const std::string& root, size_t limit) {
  std::vector<LineHotspot> top;
  const auto better = [](const LineHotspot& a, const LineHotspot& b) {
    if (a.score != b.score) return a.score > b.score;
    return a.file->path != b.file->path ? a.file->path < b.file->path : a.line < b.line;
  };
  if (limit == 0) return top;
  for (const auto& [path, file] : files) {
    const std::string relative = pathBelow(path, root);
    const FileHistory* record = history.find(relative);
    if (record == nullptr) continue;
    size_t index = 0;
    for (const LineRun& run : record->runs) {
      for (uint32_t k = 0; k < run.length && index < file.lineHeatRaw.size(); ++k, ++index) {
        const double heat = file.lineHeatRaw[index];
        const double score = heat * run.changes;
        if (!(score > 0)) continue;
        LineHotspot spot{&file, {}, static_cast<int32_t>(index + 1), heat, {run.changes, run.lastChange}, score};
        if (top.size() == limit && !better(spot, top.back())) continue;
        spot.relativePath = relative;
        top.insert(std::upper_bound(top.begin(), top.end(), spot, better), std::move(spot));
        if (top.size() > limit) top.pop_back();
      }
    }
  }
  return top;
}

}  // namespace varnholt_app
