#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "../project/temp_tree.h"
#include "project/project_analysis.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

using Strings = std::vector<std::string>;

// Every value of `key` in `json`: a string's raw contents or a number's
// text; for an array, each element.
Strings valuesOf(std::string_view json, std::string_view key) {
  Strings values;
  const std::string needle = "\"" + std::string(key) + "\":";
  for (size_t at = json.find(needle); at != std::string_view::npos; at = json.find(needle, at + 1)) {
    size_t pos = at + needle.size();
    if (json[pos] == '"') {
      size_t end = pos + 1;
      while (json[end] != '"') end += json[end] == '\\' ? 2u : 1u;
      values.emplace_back(json.substr(pos + 1, end - pos - 1));
      continue;
    }
    const bool array = json[pos] == '[';
    do {
      pos += array ? 1 : 0;
      const size_t end = json.find_first_of(",]}", pos);
      if (end > pos) values.emplace_back(json.substr(pos, end - pos));
      pos = end;
    } while (array && json[pos] == ',');
  }
  return values;
}

ProjectFile fileWith(std::vector<double> lineHeatRaw, double heatRaw = 0.0) {
  ProjectFile file;
  file.lineHeatRaw = lineHeatRaw;
  file.heatRaw = heatRaw;
  file.lineCount = static_cast<int32_t>(lineHeatRaw.size());
  return file;
}

TEST(ProjectMessage, FormatAndNormalisation) {
  ProjectFileMap files;
  EXPECT_EQ(buildProjectMessage(files, 0),
            R"({"type":"setProject","projectName":"Varnholt","totalLOC":0,"files":[]})");
  files["C:\\src\\app\\a.c"] = fileWith({}, 2.0);
  EXPECT_EQ(buildProjectMessage(files, 1234),
            R"({"type":"setProject","projectName":"app","totalLOC":1234,"files":[)"
            R"({"path":"C:\\src\\app\\a.c","name":"a.c","heat01":1.0000,"heatCV":2.00}]})");
  for (const auto& [heat, heat01, heatCV] : {std::tuple{0.5, "0.5850", "0.50"}, {0.0, "0.0000", "0.00"},
                                            {12.3456, "1.0000", "12.35"}, {-0.5, "0.0000", "-0.50"}}) {
    files.begin()->second.heatRaw = heat;
    const std::string json = buildProjectMessage(files, 1);
    EXPECT_EQ(valuesOf(json, "heat01"), Strings{heat01}) << heat;
    EXPECT_EQ(valuesOf(json, "heatCV"), Strings{heatCV}) << heat;
  }
  // Heats 1..21: the sorted value at index 19 (20.0) is the reference.
  files.clear();
  for (int i = 1; i <= 21; ++i) files["/p/f" + std::string(i < 10 ? "0" : "") + std::to_string(i)] = fileWith({}, i);
  const Strings heat01 = valuesOf(buildProjectMessage(files, 0), "heat01");
  EXPECT_EQ(Strings(heat01.begin() + 18, heat01.end()), (Strings{"0.9840", "1.0000", "1.0000"}));  // ln 20 / ln 21
}

TEST(ProjectMessage, PathsInByteOrderAndEscaped) {
  ProjectFileMap files;
  // Long shared prefixes, ends inside them and zero bytes, around the
  // lengths the sort compares first.
  std::mt19937 random(3);
  const char bytes[] = {'a', '"', '\0', '\xC3'};
  for (int round = 0; round < 100; ++round) {
    files.clear();
    const std::string root = "/home/user/projects/" + std::string(random() % 20, 'r');
    std::string stems[3];
    for (std::string& stem : stems) {
      for (size_t i = 10 + random() % 12; i > 0; --i) stem += bytes[random() % 2];
    }
    while (files.size() < 60) {
      std::string path = root + stems[random() % 3];
      for (size_t i = random() % 7; i > 0; --i) path += bytes[random() % 4];
      files[path] = fileWith(std::vector<double>(path.size() % 7));
    }
    Strings keys, expected, lines;
    for (const auto& entry : files) keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());  // std::string compares bytes unsigned
    for (const std::string& key : keys) {
      expected.push_back(jsonEscape(key));
      lines.push_back(std::to_string(key.size() % 7));
    }
    ASSERT_EQ(valuesOf(buildProjectMessage(files, 0), "path"), expected) << round;
    // The line counts come in the same order.
    ASSERT_EQ(valuesOf(buildFileLinesMessage(files), "lines"), lines) << round;
  }
}

// A final line feed ends a line rather than starting one: each file counts
// as the line total does, and the counts add up to it.
TEST(FileLinesMessage, CountsAddUpToTheTotal) {
  testing::TempTree tree;
  const std::pair<const char*, const char*> files[] = {
      {"a.c", "int a;\nint b;\n"}, {"b.c", "int a;\nint b;"}, {"c.c", ""},
      {"d.c", "\n"}, {"e.py", "x = 1\r\n\r\ny = 2\r\n"}, {"f.txt", "one"}};
  for (const auto& [name, text] : files) tree.file(name, text);
  ProjectAnalysis analysis = analyzeProject(tree.native());
  ASSERT_EQ(analysis.model.files.size(), 5u);  // the walk leaves out the empty file
  EXPECT_EQ(analysis.totalLines, 9);
  EXPECT_EQ(buildFileLinesMessage(analysis.model.files), R"({"type":"setFileLines","lines":[2,2,1,3,1]})");
  // The heat arrays of a.c and d.c run one entry past their last line.
  EXPECT_EQ(analysis.model.files.at(tree.key("a.c")).lineHeatRaw.size(), 3u);
  // A record with no lines counted (unreadable, or empty) sends 0.
  analysis.model.files[tree.key("c.c")] = ProjectFile{};
  EXPECT_EQ(buildFileLinesMessage(analysis.model.files), R"({"type":"setFileLines","lines":[2,2,0,1,3,1]})");
}

// The list of a first run names files by their place in it; the scale of
// a batch is that of every file filled so far.
TEST(PendingList, PathOrderIndicesAndTheScaleSoFar) {
  ProjectFileMap files;
  for (const char* name : {"/p/c.md", "/p/b.c", "/p/a\"x.c", "/p/d.py"}) files[name] = fileWith({}, 0.0);
  files["/p/c.md"].language = LanguageId::PlainText;
  files["/p/d.py"].language = LanguageId::Python;
  files["/p/b.c"].language = files["/p/a\"x.c"].language = LanguageId::C;
  PendingList pending;
  EXPECT_EQ(pending.start(files, "p"),
            R"({"type":"setPendingProject","projectName":"p","folderName":"p",)"
            R"("root":"/p/","paths":["a\"x.c","b.c","c.md","d.py"],"notCode":[2]})");
  ProjectFile& b = files["/p/b.c"];
  b = fileWith({1.0, 2.0}, 21.0);
  b.language = LanguageId::C;
  b.testOrGenerated = true;
  ProjectFile stranger = fileWith({}, 5.0);
  EXPECT_EQ(pending.fill({&b, &stranger}),
            R"({"type":"fillPendingProject","heatScaleLog":3.091042453,"files":[[1,21.00,2,2]]})");  // ln 22
  // Heats 1..10, then 11..21: the sorted value at index 8, then 19, is the reference.
  files.clear();
  for (int i = 1; i <= 21; ++i) files["/p/f" + std::string(i < 10 ? "0" : "") + std::to_string(i)] = fileWith({}, i);
  std::vector<const ProjectFile*> batches[2];
  for (const auto& [path, file] : files) batches[file.heatRaw > 10].push_back(&file);
  pending.start(files, "p");
  EXPECT_EQ(valuesOf(pending.fill(batches[0]), "heatScaleLog"), Strings{"2.302585093"});  // ln 10
  EXPECT_EQ(valuesOf(pending.fill(batches[1]), "heatScaleLog"), Strings{"3.044522438"});  // ln 21
}

TEST(CodeMessage, FormatLinesAndReference) {
  EXPECT_EQ(buildCodeMessage("C:\\a\"b.c", "a\nb\nc", fileWith({2.0, 0.0, 4.0}, 6.0)),
            R"({"type":"setCode","path":"C:\\a\"b.c","code_b64":"YQpiCmM=",)"
            R"("lineHeat":[1.0000,0.0000,1.0000],"lineCV":[2.00,0.00,4.00],"fileHeatCV":6.00})");
  const auto lineHeat = [](std::string_view text, std::vector<double> heat) {
    return valuesOf(buildCodeMessage("p", text, fileWith(std::move(heat))), "lineHeat");
  };
  // Only line feeds count; a short heat array leaves the rest at zero.
  EXPECT_EQ(lineHeat("a\r\nb\rc\r", {}), (Strings{"0.0000", "0.0000"}));
  EXPECT_EQ(lineHeat("a\nb\n", {1.0}), (Strings{"1.0000", "0.0000", "0.0000"}));
  // Entries beyond the text still set the reference; non-positive ones do not.
  EXPECT_EQ(lineHeat("x", {1.0, 100.0, 100.0}), Strings{"0.1502"});
  EXPECT_EQ(lineHeat("a\nb\nc", {0.5, 0.0, -1.0}), (Strings{"1.0000", "0.0000", "0.0000"}));
  // Single precision: float and double round these to different sides.
  EXPECT_EQ(lineHeat("a\nb\nc", {0.0125899, 1.0, 1.0})[0], "0.0181");
  EXPECT_EQ(lineHeat("a\nb\nc", {0.0590348, 1.0, 1.0})[0], "0.0828");
}

TEST(AuditMessage, Format) {
  const std::string empty =
      "{\"type\":\"setAudit\",\"hint\":\"Whole codebase \xC2\xB7 Click a row to jump\",\"items\":[]}";
  ProjectFileMap files;
  files["/p/a.c"] = fileWith({});
  EXPECT_EQ(buildAuditMessage(selectAuditItems(files)), empty);
  AuditItem item;
  item.path = "C:\\p\\a.c";
  item.lineStart = item.lineEnd = 12;
  item.cv = 3.5;
  item.heat01 = 0.25;
  item.preview = "for (i = 0; i < n; i++) {\x01";
  const std::string itemJson =
      R"({"path":"C:\\p\\a.c","file":"a.c","lineStart":12,"lineEnd":12,"cv":3.50,)"
      R"("heat01":0.2500,"kind":"line","preview":"for (i = 0; i < n; i++) {\u0001"})";
  EXPECT_EQ(buildAuditMessage({item, item}), empty.substr(0, empty.size() - 2) + itemJson + "," + itemJson + "]}");
}

}  // namespace
}  // namespace varnholt_app

namespace varnholt_app {
namespace {

// A rescan that names its changed keys gets the very message a comparison
// of every file gives, limit included.
TEST(ProjectUpdateMessage, NamedKeysGiveTheFullComparison) {
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    ProjectFileMap before;
    for (int i = 0; i < 60; ++i) before["/p/f" + std::to_string(i) + ".c"] = fileWith({1.0}, i % 7);
    ProjectFileMap after = before;
    std::vector<std::string> named;
    for (int k = 0; k < static_cast<int>(random() % 12); ++k) {
      const std::string key = "/p/f" + std::to_string(random() % 80) + ".c";
      named.push_back(key);
      switch (random() % 3) {
        case 0: after.erase(key); break;
        case 1: after[key] = fileWith({1.0, 2.0}, 100.0 * static_cast<double>(random() % 3)); break;
        default: break;  // named, unchanged
      }
    }
    for (auto& [key, file] : after) file.path = key;
    const size_t limit = 1 + random() % 8;
    const std::string full = buildProjectUpdateMessage(before, after, 9, "p", {}, limit);
    const HeatScale beforeScale = projectHeatScale(before), afterScale = projectHeatScale(after);
    EXPECT_EQ(buildProjectUpdateMessage(before, after, 9, "p",
                                        {&named, beforeScale.denominator, afterScale.denominator}, limit),
              full)
        << round;
  }
}

}  // namespace
}  // namespace varnholt_app
