#pragma once
// The project model: every analysable file of a folder with its heat.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/fnv1a.h"

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

struct ProjectFile {
  std::string path;  // full UTF-8 path, equal to the map key
  LanguageId language = LanguageId::PlainText;
  // Raw heat of every line: lineHeatRaw[i] belongs to line i + 1. After an
  // analysis there is exactly one entry per line, so a dense array carries
  // the same meaning as a map from line number at a fraction of the memory.
  std::vector<double> lineHeatRaw;
  double heatRaw = 0.0;  // sum of lineHeatRaw, added in line order
  // A test or a generated file, by its name or its first lines; set by the
  // analysis run.
  bool testOrGenerated = false;
};

using ProjectFileMap =
    std::unordered_map<std::string, ProjectFile, Fnv1aHash, std::equal_to<>>;

struct ProjectModel {
  ProjectFileMap files{8};

  ProjectModel() { files.max_load_factor(1.0f); }
};

}  // namespace varnholt_app
