#include "project/walk.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
  if (!nativeToUtf8(native, utf8)) throw WalkError("a file name has no UTF-8 form");
  return utf8;
}

// The directories from the root down to one directory, shared by its children.
struct Ancestry {
  DirIdentity identity;
  std::shared_ptr<const Ancestry> parent;
};

bool onBranch(const Ancestry* node, const DirIdentity& identity) {
  for (; node != nullptr; node = node->parent.get()) {
    if (node->identity.sameAs(identity)) return true;
  }
  return false;
}

struct DirNode;

// One admitted entry of a directory, in listing order: a file with its
// language, or a subdirectory still to be (or already) listed.
struct Item {
  std::string path;
  LanguageId language = LanguageId::PlainText;
  std::unique_ptr<DirNode> directory;
  FileStamp stamp;
};

struct DirNode {
  NativeString path;
  std::string utf8Path;
  std::shared_ptr<const Ancestry> ancestry;  // of the directory holding this one
  std::vector<Item> items;
};

// Lists directories, possibly on several threads, into a tree of DirNodes;
// the records are then inserted from that tree in walk order, so the result
// does not depend on which thread listed what.
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

  // Applies the rules to every entry of one directory.
  void list(DirNode& node, std::vector<char>& probe, std::vector<DirNode*>& found) const {
    DirectoryReader reader;
    if (!reader.open(node.path)) return;  // unreadable: counts as empty
    if (onBranch(node.ancestry.get(), reader.identity())) {
      return;  // a link back to an ancestor: the repeat counts as empty
    }
    auto self = std::make_shared<const Ancestry>(Ancestry{reader.identity(), node.ancestry});
    DirEntry entry;
    while (reader.next(entry)) {
      const std::string name = toUtf8(entry.name);
      if (name.empty() || name.front() == '.') continue;
      std::string path = joinUtf8(node.utf8Path, name);

      PathStatus status;
      bool isDirectory = entry.kind == EntryKind::Directory;
      if (entry.kind == EntryKind::Other) {
        status = reader.status(entry);
        isDirectory = status.exists && status.isDirectory;
      }

      if (isDirectory) {
        if (isIgnoredDirectoryName(name) || isInsideXcuserdata(path)) continue;
        auto child = std::make_unique<DirNode>();
        child->path = joinPath(node.path, entry.name);
        child->utf8Path = path;
        child->ancestry = self;
        found.push_back(child.get());
        node.items.push_back(Item{std::move(path), LanguageId::PlainText, std::move(child), {}});
        continue;
      }

      const std::string extension = extensionOf(name);
      if (isIgnoredFileName(name) || isIgnoredExtension(extension) || isInsideXcuserdata(path)) {
        continue;
      }
      if (entry.kind == EntryKind::File) status = reader.status(entry);
      if (!status.exists || status.size < kMinAnalysableSize ||
          status.size > kMaxAnalysableSize) {
        continue;
      }
      LanguageId language = LanguageId::PlainText;
      if (auto known = languageForExtension(extension)) {
        language = *known;
      } else if (!isKnownText(status.stamp)) {
        size_t got = 0;
        if (!reader.readPrefix(entry, probe.data(), probe.size(), got) ||
            !bytesLookLikeText(std::string_view(probe.data(), got))) {
          continue;
        }
      }
      node.items.push_back(Item{std::move(path), language, nullptr, status.stamp});
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
};

void insertRecord(ProjectFileMap& files, std::string path, LanguageId language,
                  const FileStamp& stamp) {
  auto [it, inserted] = files.try_emplace(path);
  if (inserted) {
    it->second.path = std::move(path);
    it->second.language = language;
    it->second.stamp = stamp;
  }
}

// Depth first, each directory in listing order: the order of a plain
// recursive walk.
void insertTree(ProjectFileMap& files, DirNode& node) {
  for (Item& item : node.items) {
    if (item.directory) {
      insertTree(files, *item.directory);
      item.directory.reset();
    } else {
      insertRecord(files, std::move(item.path), item.language, item.stamp);
    }
  }
  node.items.clear();
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
              const TextStamps* knownText) {
  std::string utf8Path = toUtf8(path);
  const PathStatus status = statPath(path);
  if (status.exists && status.isDirectory) {
    DirNode root;
    root.path = path;
    root.utf8Path = std::move(utf8Path);
    Walker(threadCount(threads), knownText).walk(root);
    insertTree(files, root);
    return;
  }
  // A root that is not a directory is taken like any file of a walk.
  if (!status.exists || status.size < kMinAnalysableSize || status.size > kMaxAnalysableSize) {
    return;
  }
  LanguageId language = LanguageId::PlainText;
  if (auto known = languageForExtension(extensionOf(lastName(utf8Path)))) {
    language = *known;
  } else if (!looksLikeText(path)) {
    return;
  }
  insertRecord(files, std::move(utf8Path), language, status.stamp);
}

ProjectModel scanProject(const NativeString& root, int threads, const TextStamps* knownText) {
  ProjectModel model;
  model.scanStart = fileClockNow();
  scanPath(root, model.files, threads, knownText);
  return model;
}

}  // namespace varnholt_app
