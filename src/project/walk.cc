#include "project/walk.h"

#include <algorithm>
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
};

// One arrival at a directory. Only the first arrival at a directory (by its
// identity) lists it; every other one points at that first.
struct DirNode {
  NativeString path;
  bool viaLink = false;  // reached through a link, not as a plain directory
  DirIdentity identity;
  const DirNode* listedAs = nullptr;  // the arrival that holds the listing
  std::vector<Item> items;
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
class Walker {
 public:
  Walker(int threads, const TextStamps* knownText) : threads_(threads), knownText_(knownText) {}

  void walk(DirNode& root) {
    pending_.push_back(&root);
    outstanding_ = 1;
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads_; ++i) {
      try {
        helpers.emplace_back([this] { work(); });
      } catch (...) {
        break;  // fewer threads; this one carries on regardless
      }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void work() {
    try {
      std::vector<char> probe(kTextProbeBytes);
      std::vector<DirNode*> found;
      for (;;) {
        DirNode* node = nullptr;
        {
          std::unique_lock lock(mutex_);
          wake_.wait(lock, [this] { return !pending_.empty() || outstanding_ == 0 || error_; });
          if (outstanding_ == 0 || error_) return;
          node = pending_.back();
          pending_.pop_back();
        }
        found.clear();
        list(*node, probe, found);
        std::lock_guard lock(mutex_);
        pending_.insert(pending_.end(), found.rbegin(), found.rend());
        outstanding_ += found.size();
        --outstanding_;
        if (outstanding_ == 0 || !found.empty()) wake_.notify_all();
      }
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!error_) error_ = std::current_exception();
      wake_.notify_all();
    }
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
  void list(DirNode& node, std::vector<char>& probe, std::vector<DirNode*>& found) {
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
        found.push_back(child.get());
        node.items.push_back(Item{std::move(name), LanguageId::PlainText, std::move(child), {}});
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
      node.items.push_back(Item{std::move(name), language, nullptr, status.stamp, !known});
    }
  }

  bool isKnownText(const FileStamp& stamp) const {
    return knownText_ != nullptr && stamp.object != 0 && knownText_->count(stamp) != 0;
  }

  const int threads_;
  const TextStamps* const knownText_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<DirNode*> pending_;  // a stack: deep first keeps the tree small
  size_t outstanding_ = 0;         // listed or waiting to be
  std::exception_ptr error_;
  std::mutex claimsMutex_;
  std::unordered_map<DirIdentity, DirNode*, IdentityHash, IdentityEqual> claims_;
};

// Where the records of one walk go.
struct Records {
  ProjectFileMap& files;
  std::vector<FileStamp>* textByContent;
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
void insertTree(const Records& to, const DirNode& node, const std::string& utf8Path,
                const ArrivalMap& plain, ArrivalMap& inserted) {
  const DirNode& listing = listingOf(node);
  if (listing.identity.known) {
    const auto own = plain.find(listing.identity);
    if (own != plain.end() ? own->second != &node
                           : !inserted.try_emplace(listing.identity, &node).second) {
      return;
    }
  }
  if (holdsOnlyXcuserdata(utf8Path)) return;
  for (const Item& item : listing.items) {
    std::string path = joinUtf8(utf8Path, item.name);
    if (nameLeadsIntoXcuserdata(path, item.name)) continue;
    if (item.directory) {
      insertTree(to, *item.directory, path, plain, inserted);
    } else {
      insertRecord(to, std::move(path), item.language, item.stamp, item.byContent);
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

ProjectModel scanProject(const NativeString& root, int threads, const TextStamps* knownText) {
  ProjectModel model;
  model.scanStart = fileClockNow();
  scanPath(root, model.files, threads, knownText, &model.textByContent);
  return model;
}

}  // namespace varnholt_app
