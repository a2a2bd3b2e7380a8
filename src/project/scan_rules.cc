#include "project/scan_rules.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>

#include "base/file_io.h"
#include "base/fnv1a.h"

namespace varnholt_app {

namespace {

using NameSet = std::unordered_set<std::string, Fnv1aHash, std::equal_to<>>;

// The tables are looked up from every walk thread until the process ends;
// they are deliberately never destroyed, so no exit-time order can bite.
const NameSet& makeSet(std::initializer_list<const char*> names) {
  auto* set = new NameSet();
  for (const char* name : names) set->emplace(name);
  return *set;
}

const NameSet& ignoredDirectoryNames() {
  static const NameSet& set =
      makeSet({".git", "node_modules", "DerivedData", "build", "dist", "Pods", ".swiftpm",
               ".build", ".xcuserdata", "xcuserdata", ".idea", ".vscode"});
  return set;
}

const NameSet& ignoredFileNames() {
  static const NameSet& set = makeSet({".DS_Store"});
  return set;
}

const NameSet& ignoredExtensions() {
  static const NameSet& set = makeSet(
      {"png", "jpg", "jpeg", "gif", "webp", "heic", "pdf", "zip", "gz", "bz2", "7z",
       "rar", "mp3", "mp4", "mov", "dylib", "a", "o", "xcarchive", "app", "framework",
       "xcuserstate", "xccheckout", "pbxuser", "mode1v3", "mode2v3", "perspectivev3",
       "swp", "swo", "npy", "npz", "sqlite", "db"});
  return set;
}

using LanguageMap = std::unordered_map<std::string, LanguageId, Fnv1aHash, std::equal_to<>>;

const LanguageMap& sourceExtensions() {
  static const LanguageMap& map = *[] {
    struct Row {
      LanguageId language;
      std::initializer_list<const char*> extensions;
    };
    const Row rows[] = {
        {LanguageId::Swift, {"swift"}},
        {LanguageId::ObjC, {"m", "mm", "h"}},
        {LanguageId::C, {"c"}},
        {LanguageId::Cpp, {"cc", "cpp", "cxx", "hpp", "hh", "hxx"}},
        {LanguageId::Python, {"py"}},
        {LanguageId::JavaScript, {"js"}},
        {LanguageId::TypeScript, {"ts"}},
        {LanguageId::Go, {"go"}},
        {LanguageId::Rust, {"rs"}},
        {LanguageId::Java, {"java"}},
        {LanguageId::Kotlin, {"kt"}},
        {LanguageId::CSharp, {"cs"}},
        {LanguageId::Ruby, {"rb"}},
        {LanguageId::Php, {"php"}},
        {LanguageId::Shell, {"sh"}},
        {LanguageId::Metal, {"metal"}},
        {LanguageId::Json, {"json"}},
        {LanguageId::Yaml, {"yml", "yaml"}},
        {LanguageId::Toml, {"toml"}},
        {LanguageId::Sql, {"sql"}},
        {LanguageId::Html, {"html", "htm"}},
        {LanguageId::Css, {"css"}},
    };
    auto* built = new LanguageMap();
    // Earlier rows win should an extension ever appear twice.
    for (const Row& row : rows) {
      for (const char* extension : row.extensions) built->emplace(extension, row.language);
    }
    return built;
  }();
  return map;
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Whether `path` at `pos` starts with `word` (lower case) followed by a separator.
bool matchesComponent(std::string_view path, size_t pos, std::string_view word) {
  if (path.size() - pos < word.size() + 1) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (asciiLower(path[pos + i]) != word[i]) return false;
  }
  return isSeparator(path[pos + word.size()]);
}

}  // namespace

bool isIgnoredDirectoryName(std::string_view name) {
  return ignoredDirectoryNames().find(name) != ignoredDirectoryNames().end();
}

bool isIgnoredFileName(std::string_view name) {
  return ignoredFileNames().find(name) != ignoredFileNames().end();
}

bool isIgnoredExtension(std::string_view extension) {
  return !extension.empty() && ignoredExtensions().find(extension) != ignoredExtensions().end();
}

bool isInsideXcuserdata(std::string_view utf8Path) {
  // Searched in place: this runs for every entry of a walk.
  for (size_t i = 0; i < utf8Path.size(); ++i) {
    if (!isSeparator(utf8Path[i])) continue;
    size_t start = i + 1;
    if (start < utf8Path.size() && utf8Path[start] == '.') ++start;
    if (matchesComponent(utf8Path, start, "xcuserdata")) return true;
  }
  return false;
}

std::optional<LanguageId> languageForExtension(std::string_view extension) {
  const LanguageMap& map = sourceExtensions();
  auto it = map.find(extension);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

std::string extensionOf(std::string_view name) {
  if (name == "." || name == "..") return {};
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = asciiLower(c);
  return extension;
}

bool bytesLookLikeText(std::string_view bytes) {
  if (bytes.empty()) return true;
  // Branch-free over blocks of at most 255 bytes, so that the counters fit
  // in a byte and the compiler can vectorise the inner loop.
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t left = bytes.size();
  size_t control = 0;
  unsigned nul = 0;
  while (left > 0) {
    const size_t block = std::min<size_t>(left, 255);
    unsigned char blockControl = 0;
    unsigned char blockNul = 0;
    for (size_t i = 0; i < block; ++i) {
      const unsigned char c = p[i];
      blockNul |= static_cast<unsigned char>(c == 0);
      blockControl = static_cast<unsigned char>(
          blockControl + ((c < 0x20) & (c != '\t') & (c != '\n') & (c != '\r')));
    }
    control += blockControl;
    nul |= blockNul;
    p += block;
    left -= block;
  }
  // control / size > 0.02, in integers: exactly 2 % still passes.
  return nul == 0 && control * 50 <= bytes.size();
}

bool looksLikeText(const NativeString& path) {
  InputFile file;
  if (!file.open(path)) return false;
  std::array<char, kTextProbeBytes> buffer;
  const int64_t got = file.read(buffer.data(), buffer.size());
  if (got < 0) return false;
  return bytesLookLikeText(std::string_view(buffer.data(), static_cast<size_t>(got)));
}

}  // namespace varnholt_app
