#include "protocol/messages.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "project/file_scope.h"
#include "protocol/json.h"
#include "protocol/paths.h"

namespace varnholt_app {

namespace {

void appendStringMember(std::string& out, std::string_view key, std::string_view value) {
  out += '"';
  out += key;
  out += "\":";
  appendJsonString(out, value);
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
  const ProjectFile* file;
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

// The file list for the page in byte-wise order, a proper prefix first.
SortedFiles::SortedFiles(const ProjectFileMap& files) : files_(files) {
  std::vector<FileRecord> records;
  records.reserve(files.size());
  for (const auto& [path, file] : files) {
    records.push_back({0, 0, path.data(), path.size(), &file});
    pathBytes_ += path.size();
  }
  const size_t common = commonPrefixLength(records);
  for (size_t k = 0; k < records.size(); ++k) {
    if (k + kPrefetchDistance < records.size()) {
      prefetch(records[k + kPrefetchDistance].path + common);
    }
    records[k].prefix = prefixKey({records[k].path, records[k].size}, common);
    records[k].prefix2 = prefixKey({records[k].path, records[k].size}, common + 8);
  }
  // Zero padding in the keys ties a path ending there with one continuing
  // with 0 bytes; the full comparison settles that.
  const size_t skip = common + 16;
  std::sort(records.begin(), records.end(), [skip](const FileRecord& a, const FileRecord& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (a.prefix2 != b.prefix2) return a.prefix2 < b.prefix2;
    const std::string_view x(a.path, a.size);
    const std::string_view y(b.path, b.size);
    if (x.size() <= skip || y.size() <= skip) return x < y;
    return x.substr(skip) < y.substr(skip);
  });
  entries_.reserve(records.size());
  for (const FileRecord& record : records) entries_.push_back({{record.path, record.size}, record.file});
}

std::string buildFileLinesMessage(const SortedFiles& sorted) {
  const auto& entries = sorted.entries();
  std::string out = "{\"type\":\"setFileLines\",\"lines\":[";
  out.reserve(out.size() + 8 * entries.size() + 2);
  for (size_t k = 0; k < entries.size(); ++k) {
    if (k + kPrefetchDistance < entries.size()) prefetch(entries[k + kPrefetchDistance].file);
    if (k) out += ',';
    // The count behind the line total, so the files add up to "totalLOC"
    // (the heat array has an extra entry after a final line feed).
    appendInt(out, std::max(entries[k].file->lineCount, 0));
  }
  out += "]}";
  return out;
}

std::string buildProjectMessage(const SortedFiles& sorted, int32_t totalLOC) {
  const auto& entries = sorted.entries();
  const HeatScale scale = projectHeatScale(sorted.files());

  std::string out;
  // Paths appear twice (full and last component); backslashes double.
  out.reserve(128 + 3 * sorted.pathBytes() + 64 * entries.size());
  out += "{\"type\":\"setProject\",";
  appendStringMember(out, "projectName", projectNameFor(sorted.files()));
  out += ",\"totalLOC\":";
  appendInt(out, totalLOC);
  out += ",\"files\":[";
  for (size_t k = 0; k < entries.size(); ++k) {
    if (k + kPrefetchDistance < entries.size()) {
      prefetch(entries[k + kPrefetchDistance].path.data());
      prefetch(entries[k + kPrefetchDistance].file);
    }
    if (k) out += ',';
    const std::string_view path = entries[k].path;
    const double heatRaw = entries[k].file->heatRaw;
    out += '{';
    appendStringMember(out, "path", path);
    out += ',';
    appendStringMember(out, "name", lastComponent(path));
    out += ",\"heat01\":";
    appendFixed(out, scale.heat01(heatRaw), 4);
    out += ",\"heatCV\":";
    appendFixed(out, heatRaw, 2);
    out += '}';
  }
  out += "]}";
  return out;
}

namespace {

// The page's scope class: 0 code, 1 prose or data, 2 test or generated code.
int scopeClassOf(const ProjectFile& file) {
  if (!isCodeLanguage(file.language)) return 1;
  return file.testOrGenerated ? 2 : 0;
}

bool sameAsSent(const ProjectFile& was, const ProjectFile& file) {
  // Bitwise, so NaN heats compare as they were sent.
  return std::memcmp(&was.heatRaw, &file.heatRaw, sizeof file.heatRaw) == 0 &&
         was.lineCount == file.lineCount && scopeClassOf(was) == scopeClassOf(file);
}

}  // namespace

std::string buildProjectUpdateMessage(const ProjectFileMap& before, const ProjectFileMap& after,
                                      int32_t totalLOC, std::string_view folderName,
                                      const ProjectUpdateHints& hints, size_t limit) {
  std::vector<const ProjectFile*> changed;
  std::vector<std::string_view> removed;
  size_t kept = 0;
  if (hints.changedKeys != nullptr) {
    // Only the named keys can differ: no pass over the whole project.
    std::vector<std::string_view> keys(hints.changedKeys->begin(), hints.changedKeys->end());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    size_t added = 0;
    for (const std::string_view key : keys) {
      const auto now = after.find(key);
      const auto old = before.find(key);
      if (now == after.end()) {
        if (old == before.end()) continue;
        if (changed.size() + removed.size() == limit) return {};
        removed.push_back(old->first);
        continue;
      }
      if (old == before.end()) {
        ++added;
      } else if (sameAsSent(old->second, now->second)) {
        continue;
      }
      if (changed.size() + removed.size() == limit) return {};
      changed.push_back(&now->second);
    }
    kept = after.size() - added;
  } else {
    // A rescan that kept every file keeps the order too: while the two maps
    // go in step, the earlier record is the next one, with no lookup.
    auto next = before.begin();
    for (const auto& [path, file] : after) {
      auto old = before.end();
      if (next != before.end() && next->first == path) {
        old = next++;
      } else {
        next = before.end();
        old = before.find(path);
      }
      if (old != before.end()) {
        ++kept;
        if (sameAsSent(old->second, file)) continue;
      }
      if (changed.size() == limit) return {};
      changed.push_back(&file);
    }
    for (const auto& [path, file] : before) {
      if (kept == before.size()) break;  // every file there is still here
      if (after.count(path) != 0) continue;
      if (changed.size() + removed.size() == limit) return {};
      removed.push_back(path);
    }
  }
  if (kept == 0) return {};
  const auto byPath = [](const ProjectFile* a, const ProjectFile* b) { return a->path < b->path; };
  std::sort(changed.begin(), changed.end(), byPath);
  std::sort(removed.begin(), removed.end());

  const HeatScale scale =
      hints.afterScale > 0.0 ? HeatScale{hints.afterScale} : projectHeatScale(after);
  const double beforeScale =
      hints.beforeScale > 0.0 ? hints.beforeScale : projectHeatScale(before).denominator;
  std::string out = "{\"type\":\"updateProject\",";
  appendStringMember(out, "projectName", projectNameFor(after));
  out += ',';
  appendStringMember(out, "folderName", folderName);
  out += ",\"totalLOC\":";
  appendInt(out, totalLOC);
  if (scale.denominator != beforeScale) {
    out += ",\"heatScaleLog\":";
    appendFixed(out, scale.denominator, 9);
  }
  out += ",\"files\":[";
  for (size_t k = 0; k < changed.size(); ++k) {
    const ProjectFile& file = *changed[k];
    if (k) out += ',';
    out += '{';
    appendStringMember(out, "path", file.path);
    out += ',';
    appendStringMember(out, "name", lastComponent(file.path));
    out += ",\"heat01\":";
    appendFixed(out, scale.heat01(file.heatRaw), 4);
    out += ",\"heatCV\":";
    appendFixed(out, file.heatRaw, 2);
    out += ",\"lines\":";
    appendInt(out, std::max(file.lineCount, 0));
    out += ",\"scope\":";
    appendInt(out, scopeClassOf(file));
    out += '}';
  }
  out += "],\"removed\":[";
  for (size_t k = 0; k < removed.size(); ++k) {
    if (k) out += ',';
    appendJsonString(out, removed[k]);
  }
  out += "]}";
  return out;
}

// --- The list while a first run goes on ---

std::string PendingList::start(const ProjectFileMap& files, std::string_view folderName) {
  const SortedFiles sorted(files);
  const auto& records = sorted.entries();
  index_.clear();
  index_.reserve(records.size());
  heats_.clear();
  std::string out;
  out.reserve(128 + sorted.pathBytes() + 8 * records.size());
  out += "{\"type\":\"setPendingProject\",";
  appendStringMember(out, "projectName", projectNameFor(files));
  out += ',';
  appendStringMember(out, "folderName", folderName);
  // The folder all paths share goes once: a third of the bytes on a deep tree.
  size_t root = 0;
  if (!records.empty()) {
    const std::string_view first = records.front().path;
    const std::string_view last = records.back().path;
    size_t common = 0;
    while (common < first.size() && common < last.size() && first[common] == last[common]) ++common;
    root = first.substr(0, common).find_last_of("/\\") + 1;  // npos + 1: none
  }
  out += ',';
  appendStringMember(out, "root", records.empty() ? std::string_view() : records.front().path.substr(0, root));
  out += ",\"paths\":[";
  std::vector<uint32_t> notCode;
  for (size_t k = 0; k < records.size(); ++k) {
    const SortedFiles::Entry& record = records[k];
    if (k) out += ',';
    appendJsonString(out, record.path.substr(root));
    index_.emplace(record.file, static_cast<uint32_t>(k));
    if (!isCodeLanguage(record.file->language)) notCode.push_back(static_cast<uint32_t>(k));
  }
  out += "],\"notCode\":[";
  for (size_t k = 0; k < notCode.size(); ++k) {
    if (k) out += ',';
    appendInt(out, notCode[k]);
  }
  out += "]}";
  return out;
}

std::string PendingList::fill(const std::vector<const ProjectFile*>& batch) {
  std::vector<std::pair<uint32_t, const ProjectFile*>> listed;
  listed.reserve(batch.size());
  for (const ProjectFile* file : batch) {
    const auto found = index_.find(file);
    if (found == index_.end()) continue;
    listed.emplace_back(found->second, file);
    heats_.push_back(std::isnan(file->heatRaw) ? 0.0 : file->heatRaw);
  }
  // The scale of the files done so far.
  std::string out = "{\"type\":\"fillPendingProject\",\"heatScaleLog\":";
  appendFixed(out, projectHeatScaleOf(heats_).denominator, 9);
  out += ",\"files\":[";
  for (const auto& [index, file] : listed) {
    if (&file != &listed.front().second) out += ',';
    out += '[';
    appendInt(out, index);
    out += ',';
    appendFixed(out, file->heatRaw, 2);
    out += ',';
    appendInt(out, std::max(file->lineCount, 0));
    out += ',';
    appendInt(out, scopeClassOf(*file));
    out += ']';
  }
  out += "]}";
  return out;
}

std::string buildCodeMessage(std::string_view path, std::string_view text,
                             const ProjectFile& file) {
  const size_t lineCount = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  const LineHeats& raw = file.lineHeatRaw;
  const size_t known = std::min(lineCount, raw.size());

  const HeatScale scale = fileLineHeatScale(file);

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
    const auto heat = static_cast<float>(scale.heat01(cv > 0.0 ? cv : 0.0));
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

std::string buildScopeInfoMessage(const SortedFiles& sorted, std::string_view folderName) {
  std::vector<std::string_view> notCode;
  std::vector<std::string_view> testOrGenerated;
  for (const auto& [path, file] : sorted.entries()) {
    if (!isCodeLanguage(file->language)) {
      notCode.push_back(path);
    } else if (file->testOrGenerated) {
      testOrGenerated.push_back(path);
    }
  }
  std::string out = "{\"type\":\"setScopeInfo\",";
  appendStringMember(out, "folderName", folderName);
  const auto appendPaths = [&out](std::string_view key, const std::vector<std::string_view>& paths) {
    out += ",\"";
    out += key;
    out += "\":[";
    for (size_t i = 0; i < paths.size(); ++i) {
      if (i > 0) out += ',';
      appendJsonString(out, paths[i]);
    }
    out += ']';
  };
  appendPaths("notCode", notCode);
  appendPaths("testOrGenerated", testOrGenerated);
  out += '}';
  return out;
}

}  // namespace varnholt_app
