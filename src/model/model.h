#pragma once
// The project model: every analysable file of a folder with its heat.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/fnv1a.h"
#include "model/line_heats.h"

namespace varnholt_app {

// Language of a project file, chosen by extension or by the text test.
enum class LanguageId : int32_t {
  Swift = 0,
  ObjC = 1,
  C = 2,
  Cpp = 3,
  Python = 4,
  JavaScript = 5,
  TypeScript = 6,
  Go = 7,
  Rust = 8,
  Java = 9,
  Kotlin = 10,
  CSharp = 11,
  Ruby = 12,
  Php = 13,
  Shell = 14,
  Metal = 15,
  Json = 16,
  Yaml = 17,
  Toml = 18,
  Sql = 19,
  Html = 20,
  Css = 21,
  PlainText = 22,
};

// What tells a rescan that a file is the one it analysed before: volume and
// file number, size, and the times of the last write and of the last status
// change (ns since 1970 on POSIX, 100 ns units since 1601 on Windows).
struct FileStamp {
  uint64_t volume = 0;
  uint64_t object = 0;
  int64_t size = -1;
  int64_t modified = 0;
  int64_t changed = 0;
  bool known() const { return object != 0 || volume != 0; }
  bool operator==(const FileStamp&) const = default;
};

struct ProjectFile {
  std::string path;  // full UTF-8 path, equal to the map key
  LanguageId language = LanguageId::PlainText;
  // Raw heat of every line: lineHeatRaw[i] belongs to line i + 1. After an
  // analysis there is exactly one entry per line, so a dense array carries
  // the same meaning as a map from line number at a fraction of the memory.
  LineHeats lineHeatRaw;
  double heatRaw = 0.0;  // sum of lineHeatRaw, added in line order
  // A test or a generated file, by its name or its first lines; set by the
  // analysis run.
  bool testOrGenerated = false;
  // The file's contribution to the project's line total, counted from the
  // bytes the heat came from.
  int32_t lineCount = 0;
  FileStamp stamp;  // as the walk saw it
  // A digest of the bytes analysed, kept (non-zero) only for a file stamped
  // so close to its walk that the next walk reads it again: if the bytes are
  // the same then, the page need not hear of it.
  uint64_t racyDigest = 0;
};

using ProjectFileMap =
    std::unordered_map<std::string, ProjectFile, Fnv1aHash, std::equal_to<>>;

struct ProjectModel {
  ProjectFileMap files{8};
  // The file clock when the walk began, in the unit of FileStamp; 0 when
  // unknown. A file stamped this close to it may change again unseen.
  int64_t scanStart = 0;
  // Stamps of the files admitted as text by their bytes, not their name: a
  // rescan need not test a file again while its stamp holds.
  std::vector<FileStamp> textByContent;

  ProjectModel() { files.max_load_factor(1.0f); }
};

}  // namespace varnholt_app
