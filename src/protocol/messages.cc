#include "protocol/messages.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/lexer.h"
#include "analysis/line_split.h"
#include "base/file_io.h"
#include "base/native_string.h"
#include "base/utf.h"
#include "protocol/json.h"
#include "protocol/paths.h"

namespace varnholt_app {

namespace {

constexpr size_t kPreviewBytes = 140;

// Clamps to 0..1; NaN becomes 0.
double clamp01(double value) {
  if (!(value > 0.0)) return 0.0;
  return value > 1.0 ? 1.0 : value;
}

// The value at the 95th percentile of `values` (lower neighbour, integer
// index), which may be reordered. `values` must not be empty nor hold NaN.
double percentile95(std::vector<double>& values) {
  const size_t index = (values.size() - 1) * 95 / 100;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index),
                   values.end());
  return values[index];
}

void appendStringMember(std::string& out, std::string_view key, std::string_view value) {
  out += '"';
  out += key;
  out += "\":\"";
  appendJsonEscaped(out, value);
  out += '"';
}

}  // namespace

std::string projectNameFor(const ProjectFileMap& files) {
  if (files.empty()) return "Varnholt";
  const std::string& path = files.begin()->first;
  std::string_view name = lastComponent(parentPath(path));
  if (name.empty()) name = lastComponent(path);
  if (name.empty()) return "Varnholt";
  return std::string(name);
}

namespace {

// One file of the project message. Sorting these instead of map nodes keeps
// the sort in one array; `prefix` and `prefix2` hold the 16 bytes after the
// prefix that all paths share, big-endian, so that most comparisons need no memcmp.
struct FileRecord {
  uint64_t prefix;
  uint64_t prefix2;
  const char* path;
  size_t size;
  double heatRaw;
};

// Path bytes live in their own allocations, visited in hash or sorted order;
// fetching a few records ahead hides most of the misses.
constexpr size_t kPrefetchDistance = 8;

inline void prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

uint64_t prefixKey(std::string_view path, size_t from) {
  uint64_t key = 0;
  for (size_t i = 0; i < 8; ++i) {
    const size_t at = from + i;
    key = (key << 8) | (at < path.size() ? static_cast<unsigned char>(path[at]) : 0u);
  }
  return key;
}

size_t commonPrefixLength(const std::vector<FileRecord>& records) {
  if (records.empty()) return 0;
  std::string_view common(records[0].path, records[0].size);
  for (size_t k = 0; k < records.size(); ++k) {
    if (k + kPrefetchDistance < records.size()) prefetch(records[k + kPrefetchDistance].path);
    const std::string_view path(records[k].path, records[k].size);
    const size_t n = std::min(common.size(), path.size());
    size_t i = 0;
    while (i < n && common[i] == path[i]) ++i;
    common = common.substr(0, i);
  }
  return common.size();
}

}  // namespace

double ProjectHeatScale::heat01(double heatRaw) const {
  return clamp01(std::log1p(heatRaw) / denominator);
}

double heatDensity(const ProjectFile& file) {
  const double heat = std::isnan(file.heatRaw) ? 0.0 : file.heatRaw;
  // The same line count "setFileLines" gives the page.
  const size_t lines = static_cast<size_t>(std::max(file.lineCount, 0));
  return heat / static_cast<double>(std::max(lines, kDensityMinLines));
}

std::string buildFileLinesMessage(const ProjectFileMap& files) {
  std::vector<std::pair<std::string_view, size_t>> lines;
  lines.reserve(files.size());
  // The count behind the line total, so the files add up to "totalLOC"
  // (the heat array has an extra entry after a final line feed).
  for (const auto& [path, file] : files) lines.emplace_back(path, static_cast<size_t>(std::max(file.lineCount, 0)));
  // string_view compares bytes as unsigned, a proper prefix first: the project message's order.
  std::sort(lines.begin(), lines.end());
  std::string out = "{\"type\":\"setFileLines\",\"lines\":[";
  out.reserve(out.size() + 8 * lines.size() + 2);
  for (size_t k = 0; k < lines.size(); ++k) {
    if (k) out += ',';
    appendInt(out, static_cast<int64_t>(lines[k].second));
  }
  out += "]}";
  return out;
}

ProjectHeatScale projectHeatScale(const ProjectFileMap& files) {
  std::vector<double> heats;
  heats.reserve(files.size());
  for (const auto& entry : files) {
    heats.push_back(std::isnan(entry.second.heatRaw) ? 0.0 : entry.second.heatRaw);
  }
  double ref = 1.0;
  if (!heats.empty()) ref = std::max(percentile95(heats), 1.0);
  return ProjectHeatScale{std::log1p(ref)};
}

std::string buildProjectMessage(const ProjectFileMap& files, int32_t totalLOC) {
  std::vector<FileRecord> records;
  records.reserve(files.size());
  size_t pathBytes = 0;
  for (const auto& [path, file] : files) {
    records.push_back({0, 0, path.data(), path.size(), file.heatRaw});
    pathBytes += path.size();
  }
  const size_t common = commonPrefixLength(records);
  for (size_t k = 0; k < records.size(); ++k) {
    if (k + kPrefetchDistance < records.size()) {
      prefetch(records[k + kPrefetchDistance].path + common);
    }
    records[k].prefix = prefixKey({records[k].path, records[k].size}, common);
    records[k].prefix2 = prefixKey({records[k].path, records[k].size}, common + 8);
  }
  // Byte-wise order, a proper prefix first. Zero padding in the keys ties a
  // path ending there with one continuing with 0 bytes; the full comparison
  // settles that.
  const size_t skip = common + 16;
  std::sort(records.begin(), records.end(), [skip](const FileRecord& a, const FileRecord& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (a.prefix2 != b.prefix2) return a.prefix2 < b.prefix2;
    const std::string_view x(a.path, a.size);
    const std::string_view y(b.path, b.size);
    if (x.size() <= skip || y.size() <= skip) return x < y;
    return x.substr(skip) < y.substr(skip);
  });

  const ProjectHeatScale scale = projectHeatScale(files);

  std::string out;
  // Paths appear twice (full and last component); backslashes double.
  out.reserve(128 + 3 * pathBytes + 64 * records.size());
  out += "{\"type\":\"setProject\",";
  appendStringMember(out, "projectName", projectNameFor(files));
  out += ",\"totalLOC\":";
  appendInt(out, totalLOC);
  out += ",\"files\":[";
  bool first = true;
  for (size_t k = 0; k < records.size(); ++k) {
    if (k + kPrefetchDistance < records.size()) prefetch(records[k + kPrefetchDistance].path);
    const FileRecord& record = records[k];
    if (!first) out += ',';
    first = false;
    const std::string_view path(record.path, record.size);
    out += '{';
    appendStringMember(out, "path", path);
    out += ',';
    appendStringMember(out, "name", lastComponent(path));
    out += ",\"heat01\":";
    appendFixed(out, scale.heat01(record.heatRaw), 4);
    out += ",\"heatCV\":";
    appendFixed(out, record.heatRaw, 2);
    out += '}';
  }
  out += "]}";
  return out;
}

std::string buildCodeMessage(std::string_view path, std::string_view text,
                             const ProjectFile& file) {
  const size_t lineCount = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  const LineHeats& raw = file.lineHeatRaw;
  const size_t known = std::min(lineCount, raw.size());

  std::vector<double> positives;
  for (const double v : raw) {
    if (v > 0.0) positives.push_back(v);
  }
  double ref = 1.0;
  if (!positives.empty()) ref = std::max(percentile95(positives), 1e-9);
  positives = {};
  const double denominator = std::log1p(ref);

  std::string out;
  out.reserve(160 + 2 * path.size() + (text.size() + 2) / 3 * 4 + 16 * lineCount);
  out += "{\"type\":\"setCode\",";
  appendStringMember(out, "path", path);
  out += ",\"code_b64\":\"";
  appendBase64(out, text);
  out += "\",\"lineHeat\":[";
  for (size_t i = 0; i < lineCount; ++i) {
    if (i > 0) out += ',';
    const double cv = i < known ? raw[i] : 0.0;
    // The page's heat is single precision; print exactly what it would hold.
    const auto heat =
        static_cast<float>(clamp01(std::log1p(cv > 0.0 ? cv : 0.0) / denominator));
    appendFixed(out, static_cast<double>(heat), 4);
  }
  out += "],\"lineCV\":[";
  for (size_t i = 0; i < lineCount; ++i) {
    if (i > 0) out += ',';
    appendFixed(out, i < known ? raw[i] : 0.0, 2);
  }
  out += "],\"fileHeatCV\":";
  appendFixed(out, file.heatRaw, 2);
  out += '}';
  return out;
}

namespace {

// Hotter first; equal heat by path bytes, then by line.
bool ranksBefore(const HotLine& a, const HotLine& b) {
  if (a.key != b.key) return a.key > b.key;
  if (a.file != b.file) return *a.path < *b.path;
  return a.index < b.index;
}

// At most kPreviewBytes, never ending inside a character.
std::string previewOf(std::string_view line) {
  size_t cut = line.size();
  if (cut > kPreviewBytes) {
    cut = 0;
    char32_t codePoint = 0;
    for (;;) {
      const size_t length = decodeUtf8At(line, cut, codePoint);
      if (cut + length > kPreviewBytes) break;
      cut += length;
    }
  }
  std::string preview(line.substr(0, cut));
  std::replace(preview.begin(), preview.end(), '\t', ' ');
  return preview;
}

}  // namespace

std::vector<HotLine> selectHotLines(const ProjectFileMap& files, size_t limit, FileScope scope,
                                    size_t perFile) {
  constexpr double kLowest = -std::numeric_limits<double>::infinity();
  // Lines are numbered in int32.
  constexpr size_t kMaxLines = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (limit == 0) return {};

  // The heat arrays in memory order: hash order would jump between pages,
  // which costs far more than the comparisons. The result does not depend on
  // the order in which files are visited.
  struct Span {
    const LineHeats* heat;
    size_t lines;
    const std::string* path;
    const ProjectFile* file;
  };
  std::vector<Span> spans;
  spans.reserve(files.size());
  for (const auto& [path, file] : files) {
    if (file.lineHeatRaw.empty() || !fileInScope(file, scope)) continue;
    spans.push_back({&file.lineHeatRaw, std::min(file.lineHeatRaw.size(), kMaxLines), &path,
                     &file});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
    return std::less<const void*>()(a.heat->storage(), b.heat->storage());
  });

  // A heap whose front is the worst candidate kept so far. Most lines are
  // rejected by one comparison with its heat.
  std::vector<HotLine> heap;
  heap.reserve(limit);
  double threshold = kLowest;
  // With a cap per file, each file's own best lines are found first and
  // then compete as one file would.
  std::vector<HotLine> own;
  // Keeps the `cap` best candidates offered to `kept`.
  const auto offer = [](std::vector<HotLine>& kept, size_t cap, const HotLine& c) {
    if (kept.size() < cap) {
      kept.push_back(c);
      std::push_heap(kept.begin(), kept.end(), ranksBefore);
    } else if (ranksBefore(c, kept.front())) {
      std::pop_heap(kept.begin(), kept.end(), ranksBefore);
      kept.back() = c;
      std::push_heap(kept.begin(), kept.end(), ranksBefore);
    }
  };
  for (size_t s = 0; s < spans.size(); ++s) {
    if (s + 1 < spans.size()) prefetch(spans[s + 1].heat->storage());
    const LineHeats& heat = *spans[s].heat;
    const size_t lines = spans[s].lines;
    const std::string& path = *spans[s].path;
    const ProjectFile& file = *spans[s].file;
    if (perFile > 0) {
      if (heap.size() == limit && heap.front().key != kLowest && heat.highest() < heap.front().key) continue;
      own.clear();
      for (size_t k = 0; k < lines; ++k) {
        offer(own, perFile, HotLine{std::isnan(heat[k]) ? kLowest : heat[k], &path, &file, k});
      }
      for (const HotLine& c : own) offer(heap, limit, c);
      continue;
    }
    size_t i = 0;
    for (; i < lines && heap.size() < limit; ++i) {
      const double v = std::isnan(heat[i]) ? kLowest : heat[i];
      heap.push_back({v, &path, &file, i});
      std::push_heap(heap.begin(), heap.end(), ranksBefore);
    }
    if (i == lines) continue;
    threshold = heap.front().key;
    // Most files hold no line as hot as the coolest one kept.
    if (threshold != kLowest && heat.highest() < threshold) continue;
    // Whether this file's path sorts before that of the file owning the
    // front, remembered while the front stays in the same file.
    const ProjectFile* comparedWith = nullptr;
    bool pathBefore = false;
    for (; i < lines; ++i) {
      double v = heat[i];
      if (v < threshold) continue;
      if (!(v >= threshold)) {  // NaN
        if (threshold != kLowest) continue;
        v = kLowest;
      }
      if (v == threshold) {
        // A tie goes to the smaller path; within one file the line already
        // kept is the earlier one and wins.
        const HotLine& front = heap.front();
        if (comparedWith != front.file) {
          comparedWith = front.file;
          pathBefore = path < *front.path;
        }
        if (!pathBefore) continue;
      }
      std::pop_heap(heap.begin(), heap.end(), ranksBefore);
      heap.back() = {v, &path, &file, i};
      std::push_heap(heap.begin(), heap.end(), ranksBefore);
      threshold = heap.front().key;
    }
  }
  std::sort_heap(heap.begin(), heap.end(), ranksBefore);
  return heap;
}

std::vector<AuditItem> selectAuditItems(const ProjectFileMap& files, size_t limit,
                                        bool previews, FileScope scope, size_t perFile) {
  const std::vector<HotLine> hot = selectHotLines(files, limit, scope, perFile);
  // Previews: read each owning file once.
  struct LoadedFile {
    const ProjectFile* file;
    std::string text;
    std::vector<std::string_view> lines;
  };
  std::vector<LoadedFile> loaded;
  // `lines` views into `text`, which must never move: a short text lives
  // inside the string object.
  loaded.reserve(hot.size());
  std::vector<AuditItem> items;
  items.reserve(hot.size());
  for (const HotLine& c : hot) {
    AuditItem item;
    item.path = *c.path;
    item.lineStart = static_cast<int32_t>(c.index + 1);
    item.lineEnd = item.lineStart;
    item.cv = c.file->lineHeatRaw[c.index];
    const double heatRaw = c.file->heatRaw;
    item.heat01 = clamp01(item.cv / (heatRaw > 1.0 ? heatRaw : 1.0));
    if (previews) {
      auto it = std::find_if(loaded.begin(), loaded.end(),
                             [&](const LoadedFile& l) { return l.file == c.file; });
      if (it == loaded.end()) {
        LoadedFile& l = loaded.emplace_back();
        l.file = c.file;
        // A file that has grown past the window since the analysis is not
        // read: its lines get empty previews.
        if (!readWholeFile(utf8ToNative(*c.path), l.text, kFileWindowBytes)) l.text.clear();
        l.lines = splitLines(l.text);
        it = loaded.end() - 1;
      }
      if (c.index < it->lines.size()) item.preview = previewOf(it->lines[c.index]);
    }
    items.push_back(std::move(item));
  }
  return items;
}

std::string buildAuditMessage(const std::vector<AuditItem>& items) {
  std::string out;
  out.reserve(128 + 512 * items.size());
  out += "{\"type\":\"setAudit\",";
  appendStringMember(out, "hint", kAuditHint);
  out += ",\"items\":[";
  bool first = true;
  for (const AuditItem& item : items) {
    if (!first) out += ',';
    first = false;
    out += '{';
    appendStringMember(out, "path", item.path);
    out += ',';
    appendStringMember(out, "file", lastComponent(item.path));
    out += ",\"lineStart\":";
    appendInt(out, item.lineStart);
    out += ",\"lineEnd\":";
    appendInt(out, item.lineEnd);
    out += ",\"cv\":";
    appendFixed(out, item.cv, 2);
    out += ",\"heat01\":";
    appendFixed(out, item.heat01, 4);
    out += ',';
    // Always "line"; escaped anyway so that no field can break the JSON.
    appendStringMember(out, "kind", item.kind);
    out += ',';
    appendStringMember(out, "preview", item.preview);
    out += '}';
  }
  out += "]}";
  return out;
}

std::string buildProgressMessage(RunState state, uint64_t done, uint64_t total,
                                 std::string_view text, std::string_view folderName) {
  static constexpr const char* kStateNames[] = {"busy", "idle", "failed", "missing"};
  std::string out = R"({"type":"setProgress",)";
  appendStringMember(out, "state", kStateNames[static_cast<int>(state)]);
  if (state == RunState::Busy) {
    out += ",\"done\":" + std::to_string(done) + ",\"total\":" + std::to_string(total);
    if (!folderName.empty()) {
      out += ',';
      appendStringMember(out, "folderName", folderName);
    }
  } else if (state != RunState::Idle) {
    out += ',';
    appendStringMember(out, "text", text);
  }
  out += '}';
  return out;
}

std::string buildSnapshotMessage(bool ok, std::string_view pathOrText) {
  std::string out = R"({"type":"setSnapshot","ok":)";
  out += ok ? "true," : "false,";
  appendStringMember(out, ok ? "path" : "text", pathOrText);
  out += '}';
  return out;
}

std::string buildScopeInfoMessage(const ProjectFileMap& files, std::string_view folderName) {
  std::vector<const std::string*> notCode;
  std::vector<const std::string*> testOrGenerated;
  for (const auto& [path, file] : files) {
    if (!isCodeLanguage(file.language)) {
      notCode.push_back(&path);
    } else if (file.testOrGenerated) {
      testOrGenerated.push_back(&path);
    }
  }
  std::string out = "{\"type\":\"setScopeInfo\",";
  appendStringMember(out, "folderName", folderName);
  const auto appendPaths = [&out](std::string_view key, std::vector<const std::string*>& paths) {
    std::sort(paths.begin(), paths.end(),
              [](const std::string* a, const std::string* b) { return *a < *b; });
    out += ",\"";
    out += key;
    out += "\":[";
    for (size_t i = 0; i < paths.size(); ++i) {
      if (i > 0) out += ',';
      out += '"';
      appendJsonEscaped(out, *paths[i]);
      out += '"';
    }
    out += ']';
  };
  appendPaths("notCode", notCode);
  appendPaths("testOrGenerated", testOrGenerated);
  out += '}';
  return out;
}

}  // namespace varnholt_app
