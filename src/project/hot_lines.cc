#include "project/hot_lines.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string_view>

#include "analysis/file_heat.h"
#include "analysis/line_split.h"
#include "base/file_io.h"
#include "base/native_string.h"
#include "base/utf.h"

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

inline void prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

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

double HeatScale::heat01(double heatRaw) const {
  return clamp01(std::log1p(heatRaw) / denominator);
}

HeatScale projectHeatScale(const ProjectFileMap& files) {
  std::vector<double> heats;
  heats.reserve(files.size());
  for (const auto& entry : files) {
    heats.push_back(std::isnan(entry.second.heatRaw) ? 0.0 : entry.second.heatRaw);
  }
  return projectHeatScaleOf(heats);
}

HeatScale projectHeatScaleOf(std::vector<double>& heats) {
  double ref = 1.0;
  if (!heats.empty()) ref = std::max(percentile95(heats), 1.0);
  return HeatScale{std::log1p(ref)};
}

HeatScale fileLineHeatScale(const ProjectFile& file) {
  std::vector<double> positives;
  for (const double v : file.lineHeatRaw) {
    if (v > 0.0) positives.push_back(v);
  }
  double ref = 1.0;
  if (!positives.empty()) ref = std::max(percentile95(positives), 1e-9);
  return HeatScale{std::log1p(ref)};
}

double heatDensity(const ProjectFile& file) {
  const double heat = std::isnan(file.heatRaw) ? 0.0 : file.heatRaw;
  // The same line count "setFileLines" gives the page.
  const size_t lines = static_cast<size_t>(std::max(file.lineCount, 0));
  return heat / static_cast<double>(std::max(lines, kDensityMinLines));
}

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

bool explainFileLine(const ProjectFile& file, int32_t line, LineExplanation& out) {
  std::string text;
  if (line < 1 || !readFileText(file.path, text)) return false;
  std::vector<LineExplanation> found =
      explainText(text, profileForLanguage(file.language), {line});
  if (found.empty()) return false;
  out = std::move(found.front());
  return true;
}

std::vector<std::string> auditReasons(const std::vector<AuditItem>& items,
                                      const ProjectFileMap& files) {
  std::vector<std::string> reasons(items.size());
  std::map<std::string_view, std::vector<size_t>> byPath;
  for (size_t i = 0; i < items.size(); ++i) byPath[items[i].path].push_back(i);
  std::string text;
  for (const auto& [path, indices] : byPath) {
    const auto file = files.find(path);
    if (file == files.end() || !readFileText(path, text)) continue;
    std::vector<int32_t> lines;
    for (size_t i : indices) lines.push_back(items[i].lineStart);
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    const std::vector<LineExplanation> explained =
        explainText(text, profileForLanguage(file->second.language), lines);
    for (size_t i : indices) {
      for (const LineExplanation& e : explained) {
        if (e.line == items[i].lineStart) reasons[i] = shortReason(e);
      }
    }
  }
  return reasons;
}

}  // namespace varnholt_app
