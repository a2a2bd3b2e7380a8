#include "cli/findings.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

#include "analysis/lexer.h"
#include "analysis/line_split.h"
#include "base/file_io.h"
#include "base/fnv1a.h"
#include "base/native_string.h"
#include "base/run_beside.h"
#include "project/hot_lines.h"

namespace varnholt_app {
namespace {

constexpr int64_t kMaxFileBytes = int64_t{1} << 30;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// Hash of the line with leading and trailing blanks dropped and every run of
// blanks inside read as one space, so re-indenting keeps the fingerprint.
uint64_t normalisedLineHash(std::string_view line) {
  uint64_t hash = 0xcbf29ce484222325ull;
  bool pendingSpace = false;
  bool started = false;
  for (char c : line) {
    if (isBlank(c)) {
      pendingSpace = started;
      continue;
    }
    if (pendingSpace) {
      hash = (hash ^ 0x20u) * 0x100000001b3ull;
      pendingSpace = false;
    }
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    started = true;
  }
  return hash;
}

bool inRanges(const std::vector<LineRange>& ranges, int32_t line) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const LineRange& r) { return line >= r.first && line <= r.last; });
}

// Fingerprints of the findings of one file, from its text on disk.
void fingerprintFile(std::span<Finding* const> ofFile, const std::string& fullPath) {
  std::string text;
  if (!readWholeFile(utf8ToNative(fullPath), text, kMaxFileBytes)) text.clear();
  // Only the lines up to the last finding matter.
  size_t needed = 0;
  for (const Finding* finding : ofFile)
    needed = std::max(needed, static_cast<size_t>(finding->line));
  const std::vector<std::string_view> lines = splitLines(text);
  // Hashing every line costs more than reading it. A line can only share
  // a finding's text when it starts and ends with the same bytes; others get
  // hash 0, which no text of the findings is given.
  auto ends = [](std::string_view line) {
    const size_t first = line.find_first_not_of(" \t\r\f\v");
    if (first == std::string_view::npos) return 0u;
    const size_t last = line.find_last_not_of(" \t\r\f\v");
    return static_cast<unsigned>(static_cast<unsigned char>(line[first])) << 8 |
           static_cast<unsigned char>(line[last]);
  };
  std::vector<bool> wanted(1u << 16, false);
  for (const Finding* finding : ofFile) {
    const size_t index = static_cast<size_t>(finding->line - 1);
    if (index < lines.size()) wanted[ends(lines[index])] = true;
  }
  // Each line is hashed once, and numbered among the lines of its text.
  std::vector<uint64_t> hashes;
  std::vector<size_t> occurrences;
  hashes.reserve(std::min(needed, lines.size()));
  occurrences.reserve(std::min(needed, lines.size()));
  std::unordered_map<uint64_t, size_t> seen;
  for (size_t i = 0; i < lines.size() && i < needed; ++i) {
    const uint64_t hash = wanted[ends(lines[i])] ? normalisedLineHash(lines[i]) | 1 : 0;
    hashes.push_back(hash);
    occurrences.push_back(hash != 0 ? seen[hash]++ : 0);
  }
  std::string key;
  for (Finding* finding : ofFile) {
    const size_t index = static_cast<size_t>(finding->line - 1);
    // A line beyond the end (the file shrank) is known by its number.
    const bool known = index < hashes.size();
    const uint64_t own = known ? hashes[index] : 0;
    const size_t occurrence = known ? occurrences[index] : index;
    key.assign(finding->path);
    key += '\0';
    key += fingerprintText(own).view();
    key += '\0';
    key += std::to_string(occurrence);
    finding->fingerprint = fnv1a64(key);
  }
}

}  // namespace

FingerprintText fingerprintText(uint64_t fingerprint) {
  static const char kDigits[] = "0123456789abcdef";
  FingerprintText text;
  for (size_t i = sizeof text.digits; i-- > 0; fingerprint >>= 4) {
    text.digits[i] = kDigits[fingerprint & 15];
  }
  return text;
}

Severity severityFor(double projectHeat) {
  if (projectHeat >= kErrorBand) return Severity::Error;
  if (projectHeat >= kWarningBand) return Severity::Warning;
  return Severity::Note;
}

std::string relativeSlashPath(std::string_view path, std::string_view root) {
  // "\\" separates only on Windows; elsewhere it is part of a file's name.
#ifdef _WIN32
  auto separator = [](char c) { return c == '/' || c == '\\'; };
#else
  auto separator = [](char c) { return c == '/'; };
#endif
  std::string_view rest = path;
  if (!root.empty() && path.size() > root.size() && path.substr(0, root.size()) == root) {
    rest = path.substr(root.size());
    if (!separator(root.back()) && !separator(rest.front())) rest = path;
    while (rest != path && !rest.empty() && separator(rest.front())) rest.remove_prefix(1);
  }
  std::string out(rest);
#ifdef _WIN32
  std::replace(out.begin(), out.end(), '\\', '/');
#endif
  return out;
}

const std::vector<LineRange>* changedRangesFor(const ChangedLines& changed,
                                               std::string_view relativePath) {
  const auto exact = changed.find(relativePath);
  if (exact != changed.end()) return &exact->second;
  // git names an untracked nested repository as its folder, "sub/".
  for (size_t slash = relativePath.find('/'); slash != std::string_view::npos;
       slash = relativePath.find('/', slash + 1)) {
    const auto folder = changed.find(relativePath.substr(0, slash + 1));
    if (folder != changed.end()) return &folder->second;
  }
  return nullptr;
}

ProjectFileMap changedPart(const ProjectFileMap& files, std::string_view root,
                           const ChangedLines& changed) {
  // Lines outside the changes become NaN, which the audit ranks below all.
  ProjectFileMap out;
  for (const auto& [path, file] : files) {
    const std::vector<LineRange>* ranges = changedRangesFor(changed, relativeSlashPath(path, root));
    if (ranges == nullptr) continue;
    ProjectFile copy = file;
    std::vector<double> heats(file.lineHeatRaw.begin(), file.lineHeatRaw.end());
    for (size_t i = 0; i < heats.size(); ++i) {
      if (!inRanges(*ranges, static_cast<int32_t>(i + 1))) heats[i] = NAN;
    }
    copy.lineHeatRaw = LineHeats(heats);
    out.emplace(path, std::move(copy));
  }
  return out;
}

FindingSet selectFindings(const ProjectFileMap& files, std::string_view root,
                          const FindingOptions& options) {
  ProjectFileMap changedOnly;
  if (options.changed != nullptr) changedOnly = changedPart(files, root, *options.changed);
  const ProjectFileMap& scope = options.changed != nullptr ? changedOnly : files;

  const HeatScale scale = projectHeatScale(files);
  FindingSet set;
  // Every line is looked at: two threads count one half of the files each.
  std::vector<const LineHeats*> heats;
  heats.reserve(scope.size());
  for (const auto& entry : scope) heats.push_back(&entry.second.lineHeatRaw);
  const auto countQualified = [&heats, &options](size_t from, size_t to) {
    size_t count = 0;
    for (size_t i = from; i < to; ++i) {
      for (const double heat : *heats[i]) {
        if (heat > 0.0 && heat >= options.minHeat) ++count;
      }
    }
    return count;
  };
  const size_t half = heats.size() / 2;
  size_t secondHalf = 0;
  runBeside([&] { set.qualified = countQualified(0, half); },
            [&] { secondHalf = countQualified(half, heats.size()); });
  set.qualified += secondHalf;
  std::vector<const LineHeats*>().swap(heats);
  set.cutByCount = set.qualified > options.maxFindings;
  // The lines that qualify lead the audit's order, so no more are picked
  // than are listed; at least one, the hottest line in scope.
  const size_t listed = std::min(set.qualified, options.maxFindings);
  std::vector<HotLine> hot = selectHotLines(scope, std::max<size_t>(listed, 1));
  // NaN (a line outside the changes) ranks last, so the first line is the
  // hottest in scope.
  if (!hot.empty() && hot.front().key > 0.0) {
    set.hottestInScope = hot.front().key;
    set.hottestWhere =
        relativeSlashPath(*hot.front().path, root) + ":" + std::to_string(hot.front().index + 1);
  }
  hot.resize(std::min(hot.size(), listed));

  // Reading the files again dominates; each file's findings are its own.
  struct Job {
    const std::string* fullPath;
    size_t begin = 0;  // into `ofFiles`
    size_t count = 0;
  };
  std::vector<Job> jobs;
  std::unordered_map<const std::string*, size_t> jobOf;
  set.findings.resize(hot.size());
  for (size_t k = 0; k < hot.size(); ++k) {
    const HotLine& line = hot[k];
    auto [it, added] = jobOf.try_emplace(line.path, jobs.size());
    if (added) {
      jobs.push_back({line.path});
      set.paths.push_back(relativeSlashPath(*line.path, root));
    }
    Finding& finding = set.findings[k];
    finding.path = set.paths[it->second];
    finding.line = static_cast<int32_t>(line.index + 1);
    finding.heatRaw = line.key;
    finding.projectHeat = scale.heat01(line.key);
    finding.severity = severityFor(finding.projectHeat);
    // The file's job stands in the fingerprint until the fingerprint is known.
    finding.fingerprint = it->second;
    ++jobs[it->second].count;
  }
  std::vector<HotLine>().swap(hot);
  decltype(jobOf)().swap(jobOf);
  // The findings grouped by file, in one array.
  size_t begin = 0;
  for (Job& job : jobs) {
    job.begin = begin;
    begin += job.count;
    job.count = 0;
  }
  std::vector<Finding*> ofFiles(set.findings.size());
  for (Finding& finding : set.findings) {
    Job& job = jobs[finding.fingerprint];
    ofFiles[job.begin + job.count++] = &finding;
  }
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t j; (j = next.fetch_add(1)) < jobs.size();) {
      const std::span<Finding* const> ofFile(ofFiles.data() + jobs[j].begin, jobs[j].count);
      fingerprintFile(ofFile, *jobs[j].fullPath);
    }
  };
  const size_t threads = std::min<size_t>(
      {std::max(1u, std::thread::hardware_concurrency()), 8, jobs.size() / 64 + 1});
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  return set;
}

}  // namespace varnholt_app
