#include "project/walk.h"

#include <algorithm>
#include <string>
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

std::string joinUtf8(const std::string& parent, const std::string& name) {
  std::string joined = parent;
  if (!endsInSeparator(joined)) joined.push_back(kUtf8Separator);
  joined += name;
  return joined;
}

std::string toUtf8(const NativeString& native) {
  std::string utf8;
  if (!nativeToUtf8(native, utf8)) throw WalkError("a file name has no UTF-8 form");
  return utf8;
}

class Walker {
 public:
  explicit Walker(ProjectFileMap& files) : files_(files) {}

  void scan(const NativeString& path) {
    const std::string utf8Path = toUtf8(path);
    const PathStatus status = statPath(path);
    if (status.exists && status.isDirectory) {
      walkDirectory(path, utf8Path);
    } else {
      addFile(path, utf8Path, lastName(utf8Path), status.exists ? status.size : -1);
    }
  }

 private:
  void walkDirectory(const NativeString& path, const std::string& utf8Path) {
    std::vector<DirEntry> entries;
    DirIdentity identity;
    {
      DirectoryReader reader;
      if (!reader.open(path)) return;  // unreadable: counts as empty
      identity = reader.identity();
      if (std::any_of(branch_.begin(), branch_.end(),
                      [&](const DirIdentity& seen) { return seen.sameAs(identity); })) {
        return;  // a link back to an ancestor: the repeat counts as empty
      }
      reader.readAll(entries);
    }
    branch_.push_back(identity);
    for (const DirEntry& entry : entries) visitEntry(path, utf8Path, entry);
    branch_.pop_back();
  }

  void visitEntry(const NativeString& parent, const std::string& utf8Parent,
                  const DirEntry& entry) {
    const std::string name = toUtf8(entry.name);
    if (name.empty() || name.front() == '.') return;
    const std::string utf8Path = joinUtf8(utf8Parent, name);
    if (entry.isDirectory) {
      if (isIgnoredDirectoryName(name) || isInsideXcuserdata(utf8Path)) return;
      walkDirectory(joinPath(parent, entry.name), utf8Path);
      return;
    }
    if (isIgnoredFileName(name) || isIgnoredExtension(extensionOf(name)) ||
        isInsideXcuserdata(utf8Path)) {
      return;
    }
    addFile(joinPath(parent, entry.name), utf8Path, name, entry.size);
  }

  void addFile(const NativeString& path, const std::string& utf8Path, std::string_view name,
               int64_t size) {
    if (size < kMinAnalysableSize || size > kMaxAnalysableSize) return;
    LanguageId language = LanguageId::PlainText;
    if (auto known = languageForExtension(extensionOf(name))) {
      language = *known;
    } else if (!looksLikeText(path)) {
      return;
    }
    auto [it, inserted] = files_.try_emplace(utf8Path);
    if (inserted) {
      it->second.path = utf8Path;
      it->second.language = language;
    }
  }

  static std::string_view lastName(std::string_view path) {
    size_t start = path.size();
    while (start > 0 && !endsInSeparator(path.substr(0, start))) --start;
    return path.substr(start);
  }

  ProjectFileMap& files_;
  std::vector<DirIdentity> branch_;  // directories from the root to here
};

}  // namespace

NativeString joinPath(const NativeString& parent, const NativeString& name) {
  NativeString joined = parent;
  if (!endsInSeparator(joined)) joined.push_back(kNativeSeparator);
  joined += name;
  return joined;
}

void scanPath(const NativeString& path, ProjectFileMap& files) {
  Walker walker(files);
  walker.scan(path);
}

ProjectModel scanProject(const NativeString& root) {
  ProjectModel model;
  scanPath(root, model.files);
  return model;
}

}  // namespace varnholt_app
