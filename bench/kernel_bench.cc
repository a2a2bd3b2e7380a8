// Whole-tree figures for a large source tree (the Linux kernel in `make
// bench`): the walk alone, a plain read of every admitted file, the full
// analysis, and rescans after no, one and 1 % edited files, each with wall and
// CPU time, plus the peak resident memory. Edited files get their bytes and
// write time back before the program ends.

#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/file_io.h"
#include "cli/findings.h"
#include "cli/report_formats.h"
#include "model/model.h"
#include "project/project_analysis.h"
#include "project/walk.h"

namespace varnholt_app {
namespace {

struct Clock {
  double wall = 0;
  double cpu = 0;
};

Clock now() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
  };
  Clock c;
  c.wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
               .count();
  c.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return c;
}

double peakRssMiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void report(const char* what, const Clock& start, const Clock& end, double bytes) {
  const double wall = end.wall - start.wall;
  std::printf("%-38s wall %7.3f s   cpu %7.3f s", what, wall, end.cpu - start.cpu);
  if (bytes > 0) std::printf("   %8.1f MB/s", bytes / 1e6 / wall);
  std::printf("\n");
}

std::vector<std::string> sortedKeys(const ProjectModel& model) {
  std::vector<std::string> keys;
  keys.reserve(model.files.size());
  for (const auto& entry : model.files) keys.push_back(entry.first);
  std::sort(keys.begin(), keys.end());
  return keys;
}

// Memory held by the model itself: nodes, keys, paths, line heat, buckets.
double modelMiB(const ProjectModel& model) {
  const ProjectFileMap& files = model.files;
  double bytes = static_cast<double>(files.bucket_count() * sizeof(void*));
  for (const auto& [key, file] : files) {
    bytes += sizeof(std::pair<const std::string, ProjectFile>) + 2 * sizeof(void*);
    if (key.capacity() > 15) bytes += static_cast<double>(key.capacity() + 1);
    if (file.path.capacity() > 15) bytes += static_cast<double>(file.path.capacity() + 1);
    bytes += static_cast<double>(file.lineHeatRaw.storedBytes());
  }
  return bytes / (1024.0 * 1024.0);
}

// Appends a line to files and puts back their bytes and write time when it
// goes, however the run ends short of a crash.
class Edits {
 public:
  Edits() = default;
  Edits(const Edits&) = delete;
  Edits& operator=(const Edits&) = delete;
  ~Edits() { restore(); }

  void append(const std::string& path) {
    Saved saved{path, {}, std::filesystem::last_write_time(path)};
    if (!readWholeFile(path, saved.bytes)) return;
    saved_.push_back(std::move(saved));
    std::ofstream(path, std::ios::binary | std::ios::app) << "/* edited */\n";
  }
  void restore() {
    for (const Saved& s : saved_) {
      std::ofstream(s.path, std::ios::binary | std::ios::trunc) << s.bytes;
      std::error_code ignored;
      std::filesystem::last_write_time(s.path, s.written, ignored);
    }
    saved_.clear();
  }

 private:
  struct Saved {
    std::string path;
    std::string bytes;
    std::filesystem::file_time_type written;
  };
  std::vector<Saved> saved_;
};

// Best of `runs` rescans against `previous`, after `edit` changed the tree;
// every run starts from `previous` again, so each reads the same files.
void rescanFigure(const char* what, const std::string& root, int threads,
                  const ProjectAnalysis& previous, const Clock& full, size_t editEvery) {
  Edits edits;
  if (editEvery > 0) {
    const std::vector<std::string> keys = sortedKeys(previous.model);
    for (size_t i = keys.size() / 2 % editEvery; i < keys.size(); i += editEvery) edits.append(keys[i]);
  }
  AnalyzeOptions options;
  options.threads = threads;
  options.previous = &previous.model;
  Clock best{1e9, 0};
  for (int i = 0; i < 3; ++i) {
    const Clock start = now();
    ProjectAnalysis rescan = analyzeProject(root, options);
    const Clock end = now();
    if (end.wall - start.wall < best.wall) best = {end.wall - start.wall, end.cpu - start.cpu};
  }
  edits.restore();
  std::printf("%-38s wall %7.3f s   cpu %7.3f s   (%.3f x full wall, %.3f x full cpu)\n", what,
              best.wall, best.cpu, best.wall / full.wall, best.cpu / full.cpu);
}

int run(const std::string& root, int threads) {
  // Warm the directory caches once; the figures below are for a warm tree.
  scanProject(root);

  Clock best{1e9, 0};
  size_t files = 0;
  for (int i = 0; i < 3; ++i) {
    const Clock start = now();
    ProjectModel model = scanProject(root);
    const Clock end = now();
    files = model.files.size();
    if (end.wall - start.wall < best.wall) best = {end.wall - start.wall, end.cpu - start.cpu};
  }
  std::printf("files admitted: %zu\n", files);
  report("walk (best of 3)", Clock{0, 0}, best, 0);

  std::vector<std::string> keys = sortedKeys(scanProject(root));
  double bytes = 0;
  std::string buffer;
  for (int pass = 0; pass < 2; ++pass) {  // the first pass fills the page cache
    bytes = 0;
    const Clock start = now();
    for (const std::string& key : keys) {
      if (readWholeFile(key, buffer)) bytes += static_cast<double>(buffer.size());
    }
    const Clock end = now();
    if (pass == 1) report("plain read, 1 thread", start, end, bytes);
  }
  std::printf("bytes admitted: %.1f MB\n", bytes / 1e6);
  keys.clear();
  keys.shrink_to_fit();
  buffer = std::string();

  AnalyzeOptions options;
  options.threads = threads;
  ProjectAnalysis analysis;
  Clock bestStart{0, 0};
  Clock bestEnd{1e9, 0};
  for (int i = 0; i < 2; ++i) {
    analysis = ProjectAnalysis();  // the previous model goes before the next is built
    const Clock start = now();
    analysis = analyzeProject(root, options);
    const Clock end = now();
    if (end.wall - start.wall < bestEnd.wall - bestStart.wall) {
      bestStart = start;
      bestEnd = end;
    }
  }
  char label[64];
  std::snprintf(label, sizeof label, "full analysis, %d thread%s (best of 2)", threads,
                threads == 1 ? "" : "s");
  report(label, bestStart, bestEnd, bytes);
  const Clock full{bestEnd.wall - bestStart.wall, bestEnd.cpu - bestStart.cpu};
  rescanFigure("rescan, nothing changed (best of 3)", root, threads, analysis, full, 0);
  rescanFigure("rescan, 1 file edited (best of 3)", root, threads, analysis, full,
               analysis.model.files.size());
  rescanFigure("rescan, 1 % of files edited (best of 3)", root, threads, analysis, full, 100);

  // What --format sarif --max-findings 5000 adds to the analysis: the pick,
  // the fingerprints (reading the files again) and the text.
  Clock sarifBest{1e9, 0};
  size_t sarifBytes = 0;
  for (int i = 0; i < 3; ++i) {
    const Clock start = now();
    FindingOptions findingOptions;
    findingOptions.maxFindings = 5000;
    const FindingSet set = selectFindings(analysis.model.files, root, findingOptions);
    sarifBytes = sarifReport(set, {"bench", folderFileUri(root)}).size();
    const Clock end = now();
    if (end.wall - start.wall < sarifBest.wall) {
      sarifBest = {end.wall - start.wall, end.cpu - start.cpu};
    }
  }
  report("SARIF, 5000 hottest lines (best of 3)", Clock{0, 0}, sarifBest, 0);
  std::printf("SARIF size: %.1f MB\n", static_cast<double>(sarifBytes) / 1e6);
  std::printf("total lines: %d\n", analysis.totalLines);
  std::printf("model: %.1f MiB\n", modelMiB(analysis.model));
  std::printf("peak RSS: %.1f MiB\n", peakRssMiB());
  return 0;
}

}  // namespace
}  // namespace varnholt_app

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: kernel_bench TREE [THREADS]\n");
    return 2;
  }
  int threads = static_cast<int>(std::thread::hardware_concurrency());
  if (argc == 3) threads = std::atoi(argv[2]);
  if (threads < 1) threads = 1;
  return varnholt_app::run(argv[1], threads);
}
