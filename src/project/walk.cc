#include "project/walk.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "project/scan_rules.h"
#include "project/walk_platform.h"

namespace varnholt_app {

namespace {

#ifdef _WIN32
bool endsInSeparator(std::wstring_view path) {
  return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}
bool endsInSeparator(std::string_view path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}
constexpr char kUtf8Separator = '\\';
#else
bool endsInSeparator(std::string_view path) { return !path.empty() && path.back() == '/'; }
constexpr char kUtf8Separator = '/';
#endif

std::string joinUtf8(const std::string& parent, std::string_view name) {
  std::string joined;
  joined.reserve(parent.size() + 1 + name.size());
  joined.append(parent);
  if (!endsInSeparator(parent)) joined.push_back(kUtf8Separator);
  joined.append(name);
  return joined;
}

std::string lastName(std::string_view path) {
  size_t start = path.size();
  while (start > 0 && !endsInSeparator(path.substr(0, start))) --start;
  return std::string(path.substr(start));
}

std::string toUtf8(const NativeString& native) {
  std::string utf8;
  if (!nativeToUtf8(native, utf8)) throw Failure("a file name has no UTF-8 form");
  return utf8;
}

struct DirNode;

// One admitted entry of a directory, in listing order: a file with its
// language, or a subdirectory still to be (or already) listed.
struct Item {
  std::string name;
  LanguageId language = LanguageId::PlainText;
  std::unique_ptr<DirNode> directory;
  FileStamp stamp;
  bool byContent = false;  // admitted by the text test, not by its extension
  // With file work: the file's record keyed by the listing's path, until
  // the model takes it.
  ProjectFileMap::node_type record;
};

// One arrival at a directory. Only the first arrival at a directory (by its
// identity) lists it; every other one points at that first.
struct DirNode {
  NativeString path;
  bool viaLink = false;  // reached through a link, not as a plain directory
  DirIdentity identity;
  DirNode* listedAs = nullptr;  // the arrival that holds the listing
  std::vector<Item> items;
  std::string utf8;  // with file work: the path the listing's records are keyed by
};

struct IdentityHash {
  size_t operator()(const DirIdentity& id) const {
    return std::hash<uint64_t>()(id.object * 0x9E3779B97F4A7C15ull ^ id.volume);
  }
};
struct IdentityEqual {
  bool operator()(const DirIdentity& a, const DirIdentity& b) const { return a.sameAs(b); }
};

// Lists directories, possibly on several threads, into a tree of DirNodes.
// Each directory is listed once whatever number of links lead to it, so the
// walk ends in time and memory bounded by the directories it can reach. The
// listings hold names only; the records are inserted from them afterwards in
// walk order, so the result does not depend on which thread listed what.
// With file work the threads also take the admitted files, whenever no
// directory waits.
class Walker {
 public:
  Walker(int threads, const TextStamps* knownText, FileWork* fileWork = nullptr)
      : threads_(threads), knownText_(knownText), fileWork_(fileWork) {}
  Walker(const Walker&) = delete;
  Walker& operator=(const Walker&) = delete;
  ~Walker() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    wake_.notify_all();
    joinHelpers();
  }

  void walk(DirNode& root) {
    start(root);
    run(Until::Listed);
    joinHelpers();
    rethrowError();
  }

  // Puts `root` up for listing and starts the other threads, which keep on
  // until all is listed and every file worked on.
  void start(DirNode& root) {
    pending_.push_back(&root);
    outstanding_ = 1;
    for (int i = 1; i < threads_; ++i) {
      if (!addHelper()) break;  // fewer threads; this one carries on regardless
    }
  }

  enum class Until { Listed, AllDone };

  // Takes part until everything is listed, or also worked on.
  void run(Until until) {
    try {
      std::vector<char> probe(kTextProbeBytes);
      std::vector<DirNode*> found;
      std::vector<ProjectFile*> admitted;
      ProjectFileMap nodes;  // where the records' nodes are made
      std::function<void(ProjectFile&)> worker;
      constexpr size_t kBatch = 16;
      ProjectFile* batch[kBatch];
      for (;;) {
        DirNode* node = nullptr;
        size_t taken = 0;
        {
          std::unique_lock lock(mutex_);
          wake_.wait(lock, [this] {
            return !pending_.empty() || nextFile_ < files_.size() || outstanding_ == 0 ||
                   error_ || stopped_;
          });
          if (error_ || stopped_) return;
          if (!pending_.empty()) {
            node = pending_.back();
            pending_.pop_back();
          } else if (until == Until::Listed && outstanding_ == 0) {
            return;
          } else if (nextFile_ < files_.size()) {
            taken = std::min(kBatch, files_.size() - nextFile_);
            std::copy_n(files_.begin() + static_cast<std::ptrdiff_t>(nextFile_), taken, batch);
            nextFile_ += taken;
          } else {
            return;  // all listed, every file taken
          }
        }
        if (node == nullptr) {
          if (!worker) worker = fileWork_->worker();
          for (size_t i = 0; i < taken; ++i) worker(*batch[i]);
          continue;
        }
        found.clear();
        admitted.clear();
        list(*node, probe, found, admitted, nodes);
        std::lock_guard lock(mutex_);
        pending_.insert(pending_.end(), found.rbegin(), found.rend());
        files_.insert(files_.end(), admitted.begin(), admitted.end());
        outstanding_ += found.size();
        --outstanding_;
        if (outstanding_ == 0 || !found.empty() || !admitted.empty()) wake_.notify_all();
      }
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!error_) error_ = std::current_exception();
      wake_.notify_all();
    }
  }

  // Works with the other threads until all is done; with `tick`, starts one
  // more thread in this one's stead and calls `tick` about every 100 ms.
  void finish(const std::function<void()>& tick) {
    if (!tick || !addHelper()) {
      run(Until::AllDone);
    } else {
      std::unique_lock lock(mutex_);
      while (!wake_.wait_for(lock, std::chrono::milliseconds(100),
                             [this] { return helpersLeft_ == 0 || error_; })) {
        lock.unlock();
        tick();
        lock.lock();
      }
    }
    joinHelpers();
    rethrowError();
  }

  void rethrowError() {
    std::lock_guard lock(mutex_);
    if (error_) std::rethrow_exception(error_);
  }

 private:
  bool addHelper() {
    std::lock_guard lock(mutex_);
    try {
      helpers_.emplace_back([this] {
        run(Until::AllDone);
        std::lock_guard done(mutex_);
        --helpersLeft_;
        wake_.notify_all();
      });
    } catch (...) {
      return false;
    }
    ++helpersLeft_;
    return true;
  }

  void joinHelpers() {
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
  }

  // True when this arrival is the first at its directory.
  bool claim(DirNode& node) {
    if (!node.identity.known) return true;  // cannot be told apart: listed each time
    std::lock_guard lock(claimsMutex_);
    const auto [it, first] = claims_.try_emplace(node.identity, &node);
    if (!first) node.listedAs = it->second;
    return first;
  }

  // Applies the rules that depend on names only to every entry of one
  // directory; those that look at whole paths wait for the insertion.
  void list(DirNode& node, std::vector<char>& probe, std::vector<DirNode*>& found,
            std::vector<ProjectFile*>& admitted, ProjectFileMap& nodes) {
    DirectoryReader reader;
    if (!reader.open(node.path)) return;  // unreadable: counts as empty
    node.identity = reader.identity();
    if (!claim(node)) return;
    DirEntry entry;
    while (reader.next(entry)) {
      std::string name = toUtf8(entry.name);
      if (name.empty() || name.front() == '.') continue;

      PathStatus status;
      bool isDirectory = entry.kind == EntryKind::Directory;
      if (entry.kind == EntryKind::Other) {
        status = reader.status(entry);
        isDirectory = status.exists && status.isDirectory;
      }

      if (isDirectory) {
        if (isIgnoredDirectoryName(name)) continue;
        auto child = std::make_unique<DirNode>();
        child->path = joinPath(node.path, entry.name);
        child->viaLink = entry.kind == EntryKind::Other;
        if (fileWork_ != nullptr) child->utf8 = joinUtf8(node.utf8, name);
        found.push_back(child.get());
        Item& item = node.items.emplace_back();
        item.name = std::move(name);
        item.directory = std::move(child);
        continue;
      }

      const std::string extension = extensionOf(name);
      if (isIgnoredFileName(name) || isIgnoredExtension(extension)) continue;
      if (entry.kind == EntryKind::File) status = reader.status(entry);
      if (!status.exists || status.size < kMinAnalysableSize ||
          status.size > kMaxAnalysableSize) {
        continue;
      }
      LanguageId language = LanguageId::PlainText;
      const std::optional<LanguageId> known = languageForExtension(extension);
      if (known) {
        language = *known;
      } else if (!isKnownText(status.stamp)) {
        size_t got = 0;
        if (!reader.readPrefix(entry, probe.data(), probe.size(), got) ||
            !bytesLookLikeText(std::string_view(probe.data(), got))) {
          continue;
        }
      }
      Item& item = node.items.emplace_back();
      item.name = std::move(name);
      item.language = language;
      item.stamp = status.stamp;
      item.byContent = !known;
      if (fileWork_ != nullptr) {
        std::string key = joinUtf8(node.utf8, item.name);
        ProjectFile& file = nodes.try_emplace(key).first->second;
        file.path = std::move(key);
        file.language = language;
        file.stamp = status.stamp;
        item.record = nodes.extract(nodes.begin());
        admitted.push_back(&item.record.mapped());
      }
    }
  }

  bool isKnownText(const FileStamp& stamp) const {
    return knownText_ != nullptr && stamp.object != 0 && knownText_->count(stamp) != 0;
  }

  const int threads_;
  const TextStamps* const knownText_;
  FileWork* const fileWork_;
  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<DirNode*> pending_;  // a stack: deep first keeps the tree small
  size_t outstanding_ = 0;         // listed or waiting to be
  std::vector<ProjectFile*> files_;  // for the file work, in listing order
  size_t nextFile_ = 0;              // the first not yet taken
  size_t helpersLeft_ = 0;
  bool stopped_ = false;
  std::exception_ptr error_;
  std::mutex claimsMutex_;
  std::unordered_map<DirIdentity, DirNode*, IdentityHash, IdentityEqual> claims_;
};

// Where the records of one walk go.
struct Records {
  ProjectFileMap& files;
  std::vector<FileStamp>* textByContent;
  std::vector<ProjectFile*>* unlisted = nullptr;  // with file work: records it never saw
};

void insertRecord(const Records& to, std::string path, LanguageId language,
                  const FileStamp& stamp, bool byContent) {
  auto [it, inserted] = to.files.try_emplace(path);
  if (inserted) {
    it->second.path = std::move(path);
    it->second.language = language;
    it->second.stamp = stamp;
    if (byContent && to.textByContent != nullptr && stamp.object != 0) {
      to.textByContent->push_back(stamp);
    }
    if (to.unlisted != nullptr) to.unlisted->push_back(&it->second);
  }
}

// The record the listing made, moved into the model unless its key is there
// already (it then stays with the item).
void insertListed(const Records& to, Item& item) {
  auto result = to.files.insert(std::move(item.record));
  if (!result.inserted) {
    item.record = std::move(result.node);
  } else if (item.byContent && to.textByContent != nullptr && item.stamp.object != 0) {
    to.textByContent->push_back(item.stamp);
  }
}

using ArrivalMap = std::unordered_map<DirIdentity, const DirNode*, IdentityHash, IdentityEqual>;

// Whether the folder at `utf8Path` holds only paths inside an xcuserdata
// folder: asked once per folder, not for every entry.
bool holdsOnlyXcuserdata(const std::string& utf8Path) {
  return isInsideXcuserdata(joinUtf8(utf8Path, ""));
}

// Whether parent + separator + name lies inside an xcuserdata folder, given
// that the parent's entries do not: only a separator in the name (a
// backslash on POSIX) can make it so.
bool nameLeadsIntoXcuserdata(const std::string& path, std::string_view name) {
  for (const char c : name) {
    if (c == '/' || c == '\\') return isInsideXcuserdata(path);
  }
  return false;
}

const DirNode& listingOf(const DirNode& node) {
  return node.listedAs != nullptr ? *node.listedAs : node;
}
DirNode& listingOf(DirNode& node) { return node.listedAs != nullptr ? *node.listedAs : node; }

// For each directory that plain directories lead to from the root, the first
// such arrival in walk order: a directory keeps its own path even when a
// link to it comes first.
void findPlainArrivals(const DirNode& node, const std::string& utf8Path, ArrivalMap& plain) {
  const DirNode& listing = listingOf(node);
  if (listing.identity.known && !plain.try_emplace(listing.identity, &node).second) return;
  if (holdsOnlyXcuserdata(utf8Path)) return;
  for (const Item& item : listing.items) {
    if (!item.directory || item.directory->viaLink) continue;
    const std::string path = joinUtf8(utf8Path, item.name);
    if (!nameLeadsIntoXcuserdata(path, item.name)) findPlainArrivals(*item.directory, path, plain);
  }
}

// Depth first, each directory in listing order: the order of a plain
// recursive walk. Each directory is inserted through one arrival only, its
// plain one if it has one, else the first in walk order; every other arrival
// (a cycle, or a second link to it) counts as empty.
// Records made by the listing move out of it into the model.
void insertTree(const Records& to, DirNode& node, const std::string& utf8Path,
                const ArrivalMap& plain, ArrivalMap& inserted) {
  DirNode& listing = listingOf(node);
  if (listing.identity.known) {
    const auto own = plain.find(listing.identity);
    if (own != plain.end() ? own->second != &node
                           : !inserted.try_emplace(listing.identity, &node).second) {
      return;
    }
  }
  if (holdsOnlyXcuserdata(utf8Path)) return;
  // Records made by the listing carry the keys this path gives them.
  const bool keyedHere = to.unlisted != nullptr && listing.utf8 == utf8Path;
  for (Item& item : listing.items) {
    if (keyedHere && item.record) {
      if (!nameLeadsIntoXcuserdata(item.record.key(), item.name)) insertListed(to, item);
      continue;
    }
    std::string path = joinUtf8(utf8Path, item.name);
    if (nameLeadsIntoXcuserdata(path, item.name)) continue;
    if (item.directory) {
      insertTree(to, *item.directory, path, plain, inserted);
    } else {
      insertRecord(to, std::move(path), item.language, item.stamp, item.byContent);
    }
  }
}

// Moves out the records the listings made that the model did not take.
void collectLeftRecords(DirNode& node, std::vector<ProjectFileMap::node_type>& left) {
  for (Item& item : node.items) {
    if (item.directory) {
      collectLeftRecords(*item.directory, left);
    } else if (item.record) {
      left.push_back(std::move(item.record));
    }
  }
}

int threadCount(int requested) {
  if (requested > 0) return requested;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace

NativeString joinPath(const NativeString& parent, const NativeString& name) {
  NativeString joined;
  joined.reserve(parent.size() + 1 + name.size());
  joined.append(parent);
  if (!endsInSeparator(parent)) joined.push_back(kNativeSeparator);
  joined.append(name);
  return joined;
}

void scanPath(const NativeString& path, ProjectFileMap& files, int threads,
              const TextStamps* knownText, std::vector<FileStamp>* textByContent) {
  const Records to{files, textByContent};
  std::string utf8Path = toUtf8(path);
  const PathStatus status = statPath(path);
  if (status.exists && status.isDirectory) {
    DirNode root;
    root.path = path;
    Walker(threadCount(threads), knownText).walk(root);
    ArrivalMap plain;
    findPlainArrivals(root, utf8Path, plain);
    ArrivalMap inserted;
    insertTree(to, root, utf8Path, plain, inserted);
    return;
  }
  // A root that is not a directory is taken like any file of a walk.
  if (!status.exists || status.size < kMinAnalysableSize || status.size > kMaxAnalysableSize) {
    return;
  }
  LanguageId language = LanguageId::PlainText;
  const std::optional<LanguageId> known = languageForExtension(extensionOf(lastName(utf8Path)));
  if (known) {
    language = *known;
  } else if (!looksLikeText(path)) {
    return;
  }
  insertRecord(to, std::move(utf8Path), language, status.stamp, !known);
}

struct WorkingWalk::State {
  State(int threads, const TextStamps* knownText, FileWork& work)
      : walker(threadCount(threads), knownText, &work) {}
  DirNode root;
  std::string utf8Root;
  // Records the model did not take, which the work may still be on.
  std::vector<ProjectFileMap::node_type> left;
  Walker walker;  // last: its threads go before the records do
};

WorkingWalk::WorkingWalk(const NativeString& root, int threads, const TextStamps* knownText,
                         FileWork& work)
    : state_(std::make_unique<State>(threads, knownText, work)) {
  state_->root.path = root;
  state_->utf8Root = toUtf8(root);
  state_->root.utf8 = state_->utf8Root;
}

WorkingWalk::~WorkingWalk() = default;

void WorkingWalk::list(ProjectModel& model, std::vector<ProjectFile*>& unlisted) {
  const Records to{model.files, &model.textByContent, &unlisted};
  const PathStatus status = statPath(state_->root.path);
  if (!(status.exists && status.isDirectory)) {
    // A root that is not a directory: no listing, no work.
    scanPath(state_->root.path, model.files, 1, nullptr, &model.textByContent);
    for (auto& [key, file] : model.files) unlisted.push_back(&file);
    return;
  }
  state_->walker.start(state_->root);
  state_->walker.run(Walker::Until::Listed);
  state_->walker.rethrowError();
  ArrivalMap plain;
  findPlainArrivals(state_->root, state_->utf8Root, plain);
  ArrivalMap inserted;
  insertTree(to, state_->root, state_->utf8Root, plain, inserted);
  // The listings are not needed any more, while the analysis goes on.
  collectLeftRecords(state_->root, state_->left);
  std::vector<Item>().swap(state_->root.items);
}

std::vector<const ProjectFile*> WorkingWalk::finish(const std::function<void()>& tick) {
  state_->walker.finish(tick);
  std::vector<const ProjectFile*> left;
  for (const ProjectFileMap::node_type& record : state_->left) left.push_back(&record.mapped());
  return left;
}

ProjectModel scanProject(const NativeString& root, int threads, const TextStamps* knownText) {
  ProjectModel model;
  model.scanStart = fileClockNow();
  scanPath(root, model.files, threads, knownText, &model.textByContent);
  return model;
}

}  // namespace varnholt_app
