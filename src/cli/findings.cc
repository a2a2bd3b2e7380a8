#include "cli/findings.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <unordered_map>

#include "analysis/lexer.h"
#include "base/file_io.h"
#include "base/fnv1a.h"
#include "base/native_string.h"
#include "protocol/messages.h"

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

std::string hex16(uint64_t value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = kDigits[value & 15];
  return out;
}

bool inRanges(const std::vector<LineRange>& ranges, int32_t line) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const LineRange& r) { return line >= r.first && line <= r.last; });
}

// Fingerprints of the findings of one file, from its text on disk.
void fingerprintFile(std::vector<Finding*>& ofFile, const std::string& fullPath) {
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
  for (Finding* finding : ofFile) {
    const size_t index = static_cast<size_t>(finding->line - 1);
    // A line beyond the end (the file shrank) is known by its number.
    const bool known = index < hashes.size();
    const uint64_t own = known ? hashes[index] : 0;
    const size_t occurrence = known ? occurrences[index] : index;
    std::string key = finding->path;
    key += '\0';
    key += hex16(own);
    key += '\0';
    key += std::to_string(occurrence);
    finding->fingerprint = hex16(fnv1a64(key));
  }
}

}  // namespace

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

  const ProjectHeatScale scale = projectHeatScale(files);
  // The audit's list never outgrows the lines there are.
  size_t lines = 0;
  for (const auto& entry : scope) lines += entry.second.lineHeatRaw.size();
  // One line more than asked for tells whether the list was cut.
  const size_t wanted = std::min(options.maxFindings, lines - std::min<size_t>(lines, 1)) + 1;
  std::vector<AuditItem> items = selectAuditItems(scope, wanted, /*previews=*/false);
  FindingSet set;
  // NaN (a line outside the changes) ranks last, so the first item is the
  // hottest line in scope.
  if (!items.empty() && items.front().cv > 0.0) {
    set.hottestInScope = items.front().cv;
    set.hottestWhere =
        relativeSlashPath(items.front().path, root) + ":" + std::to_string(items.front().lineStart);
  }
  const auto qualified = std::find_if(items.begin(), items.end(),
                                      [&](const AuditItem& item) {
                                        return !(item.cv > 0.0 && item.cv >= options.minHeat);
                                      }) -
                         items.begin();
  set.cutByCount = static_cast<size_t>(qualified) > options.maxFindings;
  for (const auto& entry : scope) {
    for (const double heat : entry.second.lineHeatRaw) {
      if (heat > 0.0 && heat >= options.minHeat) ++set.qualified;
    }
  }
  items.resize(std::min(static_cast<size_t>(qualified), options.maxFindings));
  set.findings.reserve(items.size());
  std::unordered_map<std::string, std::vector<size_t>> byFile;
  for (const AuditItem& item : items) {
    Finding& finding = set.findings.emplace_back();
    finding.path = relativeSlashPath(item.path, root);
    finding.line = item.lineStart;
    finding.heatRaw = item.cv;
    finding.projectHeat = scale.heat01(item.cv);
    finding.severity = severityFor(finding.projectHeat);
    byFile[item.path].push_back(set.findings.size() - 1);
  }
  std::vector<AuditItem>().swap(items);
  // Reading the files again dominates; each file's findings are its own.
  struct Job {
    const std::string* fullPath;
    std::vector<Finding*> findings;
  };
  std::vector<Job> jobs;
  for (const auto& [fullPath, indices] : byFile) {
    Job& job = jobs.emplace_back(Job{&fullPath, {}});
    for (size_t i : indices) job.findings.push_back(&set.findings[i]);
  }
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t j; (j = next.fetch_add(1)) < jobs.size();) {
      fingerprintFile(jobs[j].findings, *jobs[j].fullPath);
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
