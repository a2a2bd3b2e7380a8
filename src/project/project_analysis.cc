#include "project/project_analysis.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis/file_heat.h"
#include "project/file_scope.h"
#include "project/scan_rules.h"
#include "project/walk.h"
#include "project/walk_platform.h"

namespace varnholt_app {

namespace {

bool isRacy(const FileStamp& stamp, int64_t scanStart) {
  const int64_t settled = scanStart - fileClockGranularity();
  return scanStart == 0 || stamp.modified >= settled || stamp.changed >= settled;
}

// Stamps of the earlier model's files that are text by the text test (not
// by their extension), for the walk to skip the test on.
TextStamps knownTextOf(const ProjectModel& previous) {
  TextStamps stamps;
  for (const FileStamp& stamp : previous.textByContent) {
    if (!isRacy(stamp, previous.scanStart)) stamps.insert(stamp);
  }
  return stamps;
}

// Never 0, which stands for no digest. Not for adversaries: it only has to
// tell apart the bytes of one file before and after an editor saved it. Each
// step is a bijection of the lane for a fixed word, so texts of one length
// differing in a single word never collide.
uint64_t digestOf(std::string_view bytes) {
  constexpr uint64_t kMul = 0x9e3779b97f4a7c15ull;
  const auto step = [](uint64_t lane, uint64_t word) {
    lane = (lane ^ word) * kMul;
    return lane ^ (lane >> 29);
  };
  const auto word = [](const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
  };
  uint64_t lanes[4] = {1, 2, 3, 4};  // four chains for the multiplier's latency
  const char* p = bytes.data();
  size_t left = bytes.size();
  for (; left >= 32; p += 32, left -= 32) {
    for (int i = 0; i < 4; ++i) lanes[i] = step(lanes[i], word(p + 8 * i));
  }
  uint64_t h = step(0, bytes.size());
  for (; left >= 8; p += 8, left -= 8) h = step(h, word(p));
  char tail[8] = {};
  std::memcpy(tail, p, left);
  h = step(h, word(tail));
  for (uint64_t lane : lanes) h = step(h, lane);
  return h != 0 ? h : 1;
}

// One read per file: the heat and the line count come from the same bytes.
void analyzeRecord(ProjectFile& file, AnalysisScratch& scratch, std::vector<double>& heats) {
  file.lineCount = 0;
  file.heatRaw = 0.0;
  file.lineHeatRaw = LineHeats();
  if (!readFileText(file.path, scratch.text, file.stamp.size)) {
    scratch.text.clear();  // nothing of another file's bytes for the classification
    return;
  }
  analyzeText(scratch.text, file.language, heats, file.heatRaw, scratch);
  file.lineHeatRaw = LineHeats(heats);
  // One heat per line as splitLines cuts them: the line count without a
  // second pass over the bytes (a final line break starts no line of its own).
  const size_t lines = heats.size() - (!scratch.text.empty() && scratch.text.back() == '\n' ? 1 : 0);
  file.lineCount = static_cast<int32_t>(std::min<size_t>(lines, std::numeric_limits<int32_t>::max()));
}

// What a run has done so far, shared by all its threads.
struct RunCounts {
  std::atomic<size_t> done{0};
  std::atomic<int64_t> bytes{0};
  std::atomic<int64_t> lines{0};
};

// Analyses one file whose racyDigest holds its earlier record's digest (0 if
// none); true when the result may differ from that record.
bool analyseFile(ProjectFile& file, AnalysisScratch& scratch, std::vector<double>& heats,
                 const std::string& utf8Root, int64_t scanStart, RunCounts& counts) {
  const uint64_t before = file.racyDigest;
  analyzeRecord(file, scratch, heats);
  const bool racy = isRacy(file.stamp, scanStart);
  const uint64_t digest = racy || before != 0 ? digestOf(scratch.text) : 0;
  file.racyDigest = racy ? digest : 0;
  // analyzeRecord leaves the file's bytes in scratch.text: no second read.
  classifyFile(file, utf8Root, scratch.text);
  counts.bytes += static_cast<int64_t>(scratch.text.size());
  counts.lines += file.lineCount;
  counts.done += 1;
  return before == 0 || digest != before;
}

// std::string compares as unsigned bytes, a proper prefix first.
void sortByPath(std::vector<ProjectFile*>& files) {
  std::sort(files.begin(), files.end(),
            [](const ProjectFile* a, const ProjectFile* b) { return a->path < b->path; });
}

// Hands out the files in key order to any number of threads.
class FileQueue {
 public:
  FileQueue(std::vector<ProjectFile*> files, RunCounts& counts, std::string utf8Root,
            int64_t scanStart)
      : files_(std::move(files)), counts_(counts), root_(std::move(utf8Root)), scanStart_(scanStart) {}

  size_t size() const { return files_.size(); }
  // Some file analysed here may differ from its earlier record.
  bool anyChanged() const { return changed_.load(); }

  void work() {
    try {
      AnalysisScratch scratch;  // reused across this thread's files
      std::vector<double> heats;
      for (;;) {
        if (failed_.load(std::memory_order_relaxed)) return;
        const size_t i = next_.fetch_add(1);
        if (i >= files_.size()) return;
        ProjectFile& file = *files_[i];
        if (analyseFile(file, scratch, heats, root_, scanStart_, counts_)) {
          changed_.store(true, std::memory_order_relaxed);
        }
        if (onAnalysed) onAnalysed(file);
      }
    } catch (...) {
      std::lock_guard lock(errorMutex_);
      if (!error_) error_ = std::current_exception();
      failed_ = true;
    }
  }

  std::function<void(const ProjectFile&)> onAnalysed;

  void rethrowError() {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::vector<ProjectFile*> files_;
  RunCounts& counts_;
  std::string root_;
  const int64_t scanStart_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> changed_{false};
  std::atomic<bool> failed_{false};
  std::mutex errorMutex_;
  std::exception_ptr error_;
};

// The analysis of the files a walk lists, on its threads while it goes on.
class WalkAnalysis final : public FileWork {
 public:
  WalkAnalysis(RunCounts& counts, std::string utf8Root, int64_t scanStart)
      : counts_(counts), root_(std::move(utf8Root)), scanStart_(scanStart) {}

  std::function<void(ProjectFile&)> worker() override {
    struct Scratch {
      AnalysisScratch analysis;
      std::vector<double> heats;
    };
    auto scratch = std::make_shared<Scratch>();
    return [this, scratch](ProjectFile& file) {
      analyseFile(file, scratch->analysis, scratch->heats, root_, scanStart_, counts_);
    };
  }

 private:
  RunCounts& counts_;
  const std::string root_;
  const int64_t scanStart_;
};

// Gives `file` the results of its earlier record `old` (null: none) when
// that is still good; false when the file is to be analysed.
bool takeOver(ProjectFile& file, const ProjectFile* old, int64_t oldScanStart, int64_t& lines) {
  if (old != nullptr && reusesRecord(*old, oldScanStart, file)) {
    file.lineHeatRaw = old->lineHeatRaw;
    file.heatRaw = old->heatRaw;
    file.lineCount = old->lineCount;
    file.testOrGenerated = old->testOrGenerated;
    lines += file.lineCount;
    return true;
  }
  // Read again for a stamp close to the last walk: the bytes may prove unchanged.
  if (old != nullptr && old->language == file.language) file.racyDigest = old->racyDigest;
  return false;
}

// Gives every file whose earlier record is still good that record's results,
// and returns the others in key order, to be analysed; `lines` counts the
// lines of those taken over, `sameKeys` tells whether the two models hold the
// same keys in the same order.
std::vector<ProjectFile*> takeOverUnchanged(ProjectModel& model, const ProjectModel* previous,
                                            int64_t& lines, bool& sameKeys) {
  std::vector<ProjectFile*> files;
  lines = 0;
  // The same keys inserted in the same order iterate in the same order: while
  // they do, the earlier record is the next one, with no hashing or probing.
  bool inStep = previous != nullptr;
  auto next = inStep ? previous->files.begin() : ProjectFileMap::const_iterator();
  for (auto& [key, file] : model.files) {
    const ProjectFile* old = nullptr;
    if (previous != nullptr) {
      auto found = previous->files.end();
      if (inStep && next != previous->files.end() && next->first == key) {
        found = next++;
      } else {
        inStep = false;
        found = previous->files.find(key);
      }
      if (found != previous->files.end()) old = &found->second;
    }
    if (!takeOver(file, old, previous != nullptr ? previous->scanStart : 0, lines)) {
      files.push_back(&file);
    }
  }
  sameKeys = inStep && next == previous->files.end();
  sortByPath(files);
  return files;
}

// takeOverUnchanged after a guided scan, which left every record but those
// of `changedKeys` as the previous model had it: only those are looked at.
std::vector<ProjectFile*> takeOverNamed(ProjectModel& model, const ProjectModel& previous,
                                        const std::vector<std::string>& changedKeys,
                                        int64_t& lines) {
  lines = 0;
  for (const auto& entry : model.files) lines += entry.second.lineCount;  // new ones hold 0
  std::vector<ProjectFile*> files;
  for (const std::string& key : changedKeys) {
    const auto here = model.files.find(key);
    if (here == model.files.end()) continue;
    const auto old = previous.files.find(key);
    if (!takeOver(here->second, old != previous.files.end() ? &old->second : nullptr,
                  previous.scanStart, lines)) {
      files.push_back(&here->second);
    }
  }
  sortByPath(files);
  return files;
}

// The keys inserted in the order of their hashes (then bytes) into a map
// sized for them: the iteration order (the first key names the project)
// then follows from the keys alone, whether a walk or a guided rescan found
// them. Hashes sort faster than paths.
void insertInHashOrder(ProjectFileMap& files) {
  std::vector<std::pair<size_t, ProjectFileMap::node_type>> nodes;
  nodes.reserve(files.size());
  const Fnv1aHash hash;
  while (!files.empty()) {
    ProjectFileMap::node_type node = files.extract(files.begin());
    const size_t h = hash(node.key());
    nodes.emplace_back(h, std::move(node));
  }
  std::sort(nodes.begin(), nodes.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.key() < b.second.key();
  });
  ProjectFileMap ordered(8);
  ordered.max_load_factor(1.0f);
  ordered.reserve(nodes.size());
  for (auto& node : nodes) ordered.insert(std::move(node.second));
  files.swap(ordered);
}

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// More named paths than this, and the walk is the cheaper way.
constexpr size_t kMaxGuidedPaths = 256;

// What one named path below the root is to a walk.
struct NamedPath {
  std::string key;  // as the walk would key a file there
  bool outside = false;  // below a folder the walk does not enter
  bool ignoredFolderName = false;  // a folder of this name is not entered
};

// False when the walk might see `path` otherwise than by its name: not below
// the root, no UTF-8 form, or a link on the way.
bool placeNamedPath(const NativeString& path, const std::string& utf8Root, NamedPath& out) {
  std::string utf8;
  if (!nativeToUtf8(path, utf8)) return false;
  std::string prefix = utf8Root;
  if (prefix.empty() || prefix.back() != kSeparator) prefix += kSeparator;
  if (utf8.size() <= prefix.size() || utf8.compare(0, prefix.size(), prefix) != 0) return false;
#ifdef _WIN32
  // A short (8.3) name would key the file twice.
  if (utf8.find('~', prefix.size()) != std::string::npos) return false;
#endif
  out.key = utf8;
  out.outside = false;
  std::string folder = prefix;
  for (size_t start = prefix.size();;) {
    const size_t end = utf8.find(kSeparator, start);
    const std::string_view name = std::string_view(utf8).substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name.empty() || name == "." || name == "..") return false;
    if (end == std::string::npos) {
      out.outside = out.outside || name.front() == '.' || isInsideXcuserdata(folder);
      out.ignoredFolderName = isIgnoredDirectoryName(name);
      return true;
    }
    if (name.front() == '.' || isIgnoredDirectoryName(name)) out.outside = true;
    folder.append(name);
    std::error_code error;
    const auto type = std::filesystem::symlink_status(std::filesystem::path(utf8ToNative(folder)), error).type();
    if (type == std::filesystem::file_type::symlink) return false;
    folder.push_back(kSeparator);
    start = end + 1;
  }
}

// The records of `previous` less those at or below each named path, plus the
// files found at those paths now; the files stamped close to the previous
// walk are looked at again as if named. False when only a walk can tell.
// `sameKeys`: no file came or went, so the model keeps the previous one's
// order.
bool guidedScan(const NativeString& root, const ProjectModel& previous,
                const std::vector<NativeString>& changed, const TextStamps& knownText,
                const AnalyzeOptions& options, ProjectModel& model, bool& sameKeys,
                std::vector<std::string>& changedKeys) {
  if (changed.size() > kMaxGuidedPaths || previous.scanStart == 0) return false;
  const PathStatus rootStatus = statPath(root);
  if (!rootStatus.exists || !rootStatus.isDirectory) return false;
  std::string utf8Root;
  if (!nativeToUtf8(root, utf8Root)) return false;
  model.scanStart = fileClockNow();

  std::vector<NamedPath> named(changed.size());
  for (size_t i = 0; i < changed.size(); ++i) {
    if (!placeNamedPath(changed[i], utf8Root, named[i])) return false;
  }
  for (const auto& [key, file] : previous.files) {
    if (isRacy(file.stamp, previous.scanStart)) named.push_back({key, false, false});
  }
  if (named.size() > kMaxGuidedPaths) return false;

  ProjectFileMap found;
  for (const NamedPath& path : named) {
    if (path.outside || found.count(path.key) != 0) continue;
    const NativeString native = utf8ToNative(path.key);
    const PathStatus status = statPath(native);
    if (!status.exists) continue;
    if (status.isDirectory && path.ignoredFolderName) continue;
    if (status.isDirectory) return false;  // a folder appeared: its links and all
    const std::string_view name = std::string_view(path.key).substr(path.key.rfind(kSeparator) + 1);
    if (isIgnoredFileName(name) || isIgnoredExtension(extensionOf(name))) continue;
    scanPath(native, found, 1, &knownText, &model.textByContent);
  }

  sameKeys = true;
  for (const NamedPath& path : named) {
    const auto old = previous.files.find(path.key);
    if ((old != previous.files.end()) != (found.count(path.key) != 0)) sameKeys = false;
  }
  // Whatever lies below a named path that is not a file was a folder.
  for (const NamedPath& path : named) {
    if (!sameKeys) break;
    if (previous.files.count(path.key) != 0) continue;
    std::string below = path.key;
    below.push_back(kSeparator);
    for (const auto& [key, file] : previous.files) {
      if (key.compare(0, below.size(), below) == 0) {
        sameKeys = false;
        break;
      }
    }
  }
  changedKeys.clear();
  for (const auto& [key, file] : found) changedKeys.push_back(key);
  if (sameKeys) {
    // A copy iterates as its original does: no new order to make.
    ProjectFileMap copy;
    if (!options.takePreparedCopy || !options.takePreparedCopy(copy)) copy = previous.files;
    model.files.swap(copy);
    for (auto& [key, file] : found) model.files.find(key)->second = std::move(file);
    model.textByContent.insert(model.textByContent.end(), previous.textByContent.begin(),
                               previous.textByContent.end());
    return true;
  }

  const auto isNamed = [&named](const std::string& key) {
    for (const NamedPath& path : named) {
      if (key.size() < path.key.size() || key.compare(0, path.key.size(), path.key) != 0) continue;
      if (key.size() == path.key.size() || key[path.key.size()] == kSeparator) return true;
    }
    return false;
  };
  TextStamps dropped;
  model.files.reserve(previous.files.size() + found.size());
  for (const auto& [key, file] : previous.files) {
    if (isNamed(key)) {
      dropped.insert(file.stamp);
      if (found.count(key) == 0) changedKeys.push_back(key);
    } else {
      model.files.emplace(key, file);
    }
  }
  for (auto& [key, file] : found) model.files.insert_or_assign(key, std::move(file));
  for (const FileStamp& stamp : previous.textByContent) {
    if (dropped.count(stamp) == 0) model.textByContent.push_back(stamp);
  }
  return true;
}

}  // namespace

bool reusesRecord(const ProjectFile& old, int64_t oldScanStart, const ProjectFile& fresh) {
  return old.language == fresh.language && fresh.stamp.known() && old.stamp == fresh.stamp &&
         !isRacy(old.stamp, oldScanStart);
}

ProjectAnalysis analyzeProject(const NativeString& root, const AnalyzeOptions& options) {
  // Two threads per processor: one that waits for the disk (a folder or file
  // not in the cache) leaves its processor to the other. With all of it
  // cached the second costs next to nothing.
  const int threads =
      options.threads > 0
          ? options.threads
          : static_cast<int>(std::min(2 * std::max(1u, std::thread::hardware_concurrency()), 64u));
  ProjectAnalysis result;
  bool keptOrder = false;
  TextStamps knownText;
  if (options.previous != nullptr) {
    knownText = knownTextOf(*options.previous);
    if (options.changedPaths != nullptr) {
      result.guided = guidedScan(root, *options.previous, *options.changedPaths, knownText,
                                 options, result.model, keptOrder, result.changedKeys);
      if (!result.guided) {
        result.model = ProjectModel();
        result.changedKeys.clear();
      }
    }
  }
  RunCounts counts;
  const std::string utf8Root = nativeToUtf8Lossy(root);
  // A fresh walk analyses the files it lists while it lists the rest; the
  // model's records are made once all is listed, so `toAnalyse` gets those
  // it never saw. A rescan takes most records over and walks first, and so
  // does a run whose caller shows the walked files before their analysis.
  std::optional<WalkAnalysis> walkWork;
  std::optional<WorkingWalk> walk;
  std::vector<ProjectFile*> toAnalyse;
  int64_t takenOverLines = 0;
  bool sameKeys = false;
  if (options.previous == nullptr && !options.walked && !options.analysed) {
    result.model.scanStart = fileClockNow();
    walkWork.emplace(counts, utf8Root, result.model.scanStart);
    walk.emplace(root, threads, nullptr, *walkWork);
    walk->list(result.model, toAnalyse);
    insertInHashOrder(result.model.files);
    sortByPath(toAnalyse);
  } else {
    if (result.guided) {
      if (!keptOrder) insertInHashOrder(result.model.files);
      toAnalyse = takeOverNamed(result.model, *options.previous, result.changedKeys, takenOverLines);
      sameKeys = keptOrder;
    } else {
      result.model = scanProject(root, threads, options.previous != nullptr ? &knownText : nullptr);
      insertInHashOrder(result.model.files);
      if (options.walked) options.walked(result.model);
      toAnalyse = takeOverUnchanged(result.model, options.previous, takenOverLines, sameKeys);
    }
    counts.done += result.model.files.size() - toAnalyse.size();
    counts.lines += takenOverLines;
  }
  const size_t total = result.model.files.size();
  const auto progressNow = [&counts, total] {
    return AnalysisProgress{std::min(counts.done.load(), total), total, counts.bytes.load()};
  };
  FileQueue queue(std::move(toAnalyse), counts, utf8Root, result.model.scanStart);
  queue.onAnalysed = options.analysed;
  const size_t workerCount = std::min<size_t>(static_cast<size_t>(threads), queue.size());
  std::vector<std::thread> workers;
  std::mutex doneMutex;
  std::condition_variable doneSignal;
  size_t workersLeft = 0;
  // With a progress callback every worker is a thread of its own and this
  // thread reports; otherwise this thread is one of the workers.
  const size_t spawn = options.progress ? workerCount : (workerCount > 0 ? workerCount - 1 : 0);
  for (size_t i = 0; i < spawn; ++i) {
    {
      std::lock_guard lock(doneMutex);
      ++workersLeft;
    }
    try {
      workers.emplace_back([&] {
        queue.work();
        std::lock_guard lock(doneMutex);
        --workersLeft;
        doneSignal.notify_all();
      });
    } catch (...) {
      std::lock_guard lock(doneMutex);
      --workersLeft;
      break;  // no more threads: the ones we have (or this one) do the rest
    }
  }
  std::exception_ptr progressError;
  // A throwing callback must not leave the workers unjoined.
  const auto report = [&] {
    if (progressError) return;
    try {
      options.progress(progressNow());
    } catch (...) {
      progressError = std::current_exception();
    }
  };
  if (options.progress && !workers.empty()) {
    std::unique_lock lock(doneMutex);
    while (!doneSignal.wait_for(lock, std::chrono::milliseconds(100),
                                [&] { return workersLeft == 0; })) {
      lock.unlock();
      report();
      lock.lock();
    }
  } else {
    queue.work();
  }
  for (std::thread& worker : workers) worker.join();
  queue.rethrowError();
  if (walk) {
    const std::vector<const ProjectFile*> left =
        walk->finish(options.progress ? std::function<void()>(report) : std::function<void()>());
    // Records the model did not take count for nothing.
    for (const ProjectFile* file : left) counts.lines -= file->lineCount;
  }
  if (progressError) std::rethrow_exception(progressError);
  if (options.progress) options.progress({total, total, counts.bytes.load()});

  result.sameAsPrevious = sameKeys && !queue.anyChanged();
  result.totalLines = static_cast<int32_t>(
      std::min<int64_t>(counts.lines.load(), std::numeric_limits<int32_t>::max()));
  return result;
}

}  // namespace varnholt_app
