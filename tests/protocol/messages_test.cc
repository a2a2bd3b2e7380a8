#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "protocol/json.h"
#include "protocol/paths.h"

namespace varnholt_app {
namespace {

// The text of every value of `key` in `json`, in order: the raw contents of
// a string, or the text of a number.
std::vector<std::string> valuesOf(std::string_view json, std::string_view key) {
  std::vector<std::string> values;
  const std::string needle = "\"" + std::string(key) + "\":";
  for (size_t at = json.find(needle); at != std::string_view::npos;
       at = json.find(needle, at + 1)) {
    size_t pos = at + needle.size();
    if (json[pos] == '"') {
      size_t end = pos + 1;
      while (json[end] != '"') end += json[end] == '\\' ? 2u : 1u;
      values.emplace_back(json.substr(pos + 1, end - pos - 1));
    } else {
      values.emplace_back(json.substr(pos, json.find_first_of(",]}", pos) - pos));
    }
  }
  return values;
}

// The elements of the number array `key`.
std::vector<std::string> arrayOf(std::string_view json, std::string_view key) {
  const std::string needle = "\"" + std::string(key) + "\":[";
  size_t pos = json.find(needle);
  if (pos == std::string_view::npos) return {};
  pos += needle.size();
  std::vector<std::string> values;
  while (json[pos] != ']') {
    const size_t end = json.find_first_of(",]", pos);
    values.emplace_back(json.substr(pos, end - pos));
    pos = json[end] == ',' ? end + 1 : end;
  }
  return values;
}

ProjectFile fileWith(std::vector<double> lineHeatRaw, double heatRaw = 0.0) {
  ProjectFile file;
  file.lineHeatRaw = std::move(lineHeatRaw);
  file.heatRaw = heatRaw;
  return file;
}

using Strings = std::vector<std::string>;

// --- "setProject" ---

TEST(ProjectMessage, EmptyAndSingleFileMessages) {
  ProjectFileMap files;
  EXPECT_EQ(buildProjectMessage(files, 0),
            R"({"type":"setProject","projectName":"Varnholt","totalLOC":0,"files":[]})");
  EXPECT_EQ(buildProjectMessage(files, -7),
            R"({"type":"setProject","projectName":"Varnholt","totalLOC":-7,"files":[]})");
  files["C:\\src\\app\\a.c"] = fileWith({}, 2.0);
  EXPECT_EQ(buildProjectMessage(files, 1234),
            R"({"type":"setProject","projectName":"app","totalLOC":1234,"files":[)"
            R"({"path":"C:\\src\\app\\a.c","name":"a.c","heat01":1.0000,"heatCV":2.00}]})");
}

TEST(ProjectMessage, NormalisesHeatOfASingleFile) {
  const std::tuple<double, const char*, const char*> cases[] = {
      {3.0, "1.0000", "3.00"},     {0.5, "0.5850", "0.50"},  {0.0, "0.0000", "0.00"},
      {12.3456, "1.0000", "12.35"}, {-0.5, "0.0000", "-0.50"},
  };
  for (const auto& [heat, heat01, heatCV] : cases) {
    ProjectFileMap files;
    files["/p/a.c"] = fileWith({}, heat);
    const std::string json = buildProjectMessage(files, 1);
    EXPECT_EQ(valuesOf(json, "heat01"), Strings{heat01}) << heat;
    EXPECT_EQ(valuesOf(json, "heatCV"), Strings{heatCV}) << heat;
  }
}

TEST(ProjectMessage, ReferenceIsThe95thPercentile) {
  // Heats 1..21: the sorted value at index 19 (20.0) is the reference.
  ProjectFileMap files;
  for (int i = 21; i >= 1; --i) {
    files["/p/f" + std::string(i < 10 ? "0" : "") + std::to_string(i)] =
        fileWith({}, static_cast<double>(i));
  }
  const Strings heat01 = valuesOf(buildProjectMessage(files, 0), "heat01");
  ASSERT_EQ(heat01.size(), 21u);
  EXPECT_EQ(heat01[9], "0.7876");   // ln 11 / ln 21
  EXPECT_EQ(heat01[18], "0.9840");  // ln 20 / ln 21
  EXPECT_EQ(heat01[19], "1.0000");
  EXPECT_EQ(heat01[20], "1.0000");
}

TEST(ProjectMessage, SortsPathsByBytesAndEscapesThem) {
  ProjectFileMap files;
  for (const char* path : {"p\\\xC3\xA9.c", "pa", "p\\a.c", "p\\Z", "p\\B.c", "p", "pA",
                           "p\\\"q\".c"}) {
    files[path] = fileWith({}, 1.0);
  }
  const std::string json = buildProjectMessage(files, 0);
  EXPECT_EQ(valuesOf(json, "path"),
            (Strings{"p", "pA", "p\\\\\\\"q\\\".c", "p\\\\B.c", "p\\\\Z", "p\\\\a.c",
                     "p\\\\\xC3\xA9.c", "pa"}));
  EXPECT_EQ(valuesOf(json, "name"),
            (Strings{"p", "pA", "\\\"q\\\".c", "B.c", "Z", "a.c", "\xC3\xA9.c", "pa"}));
}

TEST(ProjectMessage, SortsLongSharedPrefixesByBytes) {
  // Paths that agree on long stretches, end inside them, or continue with
  // zero bytes, around the lengths the sort looks at first.
  std::mt19937 random(3);
  const char bytes[] = {'a', 'b', '\0', '\xC3'};
  for (int round = 0; round < 100; ++round) {
    ProjectFileMap files;
    const std::string root = "/home/user/projects/" + std::string(random() % 20, 'r');
    std::string stems[3];
    for (std::string& stem : stems) {
      for (size_t i = 10 + random() % 12; i > 0; --i) stem += bytes[random() % 2];
    }
    while (files.size() < 60) {
      std::string path = root + stems[random() % 3];
      for (size_t i = random() % 7; i > 0; --i) path += bytes[random() % 4];
      files[path] = fileWith({}, 1.0);
    }
    Strings keys;
    for (const auto& entry : files) keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());  // std::string compares bytes unsigned
    Strings expected;
    for (const std::string& key : keys) expected.push_back(jsonEscape(key));
    ASSERT_EQ(valuesOf(buildProjectMessage(files, 0), "path"), expected) << round;
  }
}

// --- "setCode" ---

TEST(CodeMessage, WritesTextAndPerLineHeat) {
  const ProjectFile file = fileWith({2.0, 0.0, 4.0}, 6.0);
  EXPECT_EQ(buildCodeMessage("C:\\a\"b.c", "a\nb\nc", file),
            R"({"type":"setCode","path":"C:\\a\"b.c","code_b64":"YQpiCmM=",)"
            R"("lineHeat":[1.0000,0.0000,1.0000],"lineCV":[2.00,0.00,4.00],"fileHeatCV":6.00})");
  EXPECT_EQ(buildCodeMessage("p", "\n", fileWith({})),
            R"({"type":"setCode","path":"p","code_b64":"Cg==",)"
            R"("lineHeat":[0.0000,0.0000],"lineCV":[0.00,0.00],"fileHeatCV":0.00})");
}

TEST(CodeMessage, CountsLineFeedsOnly) {
  const ProjectFile file = fileWith({});
  EXPECT_EQ(arrayOf(buildCodeMessage("p", "x", file), "lineCV").size(), 1u);
  EXPECT_EQ(arrayOf(buildCodeMessage("p", "a\nb", file), "lineCV").size(), 2u);
  EXPECT_EQ(arrayOf(buildCodeMessage("p", "a\nb\n", file), "lineHeat").size(), 3u);
  EXPECT_EQ(arrayOf(buildCodeMessage("p", "a\r\nb\rc\r", file), "lineHeat").size(), 2u);
}

TEST(CodeMessage, ReferenceComesFromAllPositiveValues) {
  // Entries beyond the text are not shown but still set the reference.
  std::string json = buildCodeMessage("p", "x", fileWith({1.0, 100.0, 100.0}));
  EXPECT_EQ(arrayOf(json, "lineHeat"), Strings{"0.1502"});
  EXPECT_EQ(arrayOf(json, "lineCV"), Strings{"1.00"});

  json = buildCodeMessage("p", "a\nb\nc", fileWith({0.0, 0.0, 0.0}));
  EXPECT_EQ(arrayOf(json, "lineHeat"), (Strings{"0.0000", "0.0000", "0.0000"}));

  json = buildCodeMessage("p", "a\nb\nc", fileWith({0.5, 0.0, -1.0}));
  EXPECT_EQ(arrayOf(json, "lineHeat"), (Strings{"1.0000", "0.0000", "0.0000"}));
  EXPECT_EQ(arrayOf(json, "lineCV"), (Strings{"0.50", "0.00", "-1.00"}));

  // A short heat array leaves the remaining lines at zero.
  json = buildCodeMessage("p", "a\nb\nc", fileWith({7.0}));
  EXPECT_EQ(arrayOf(json, "lineCV"), (Strings{"7.00", "0.00", "0.00"}));
}

TEST(CodeMessage, PrintsLineHeatAtSinglePrecision) {
  // Both values lie next to a rounding boundary that float and double
  // fall on different sides of.
  std::string json = buildCodeMessage("p", "a\nb\nc", fileWith({0.0125899, 1.0, 1.0}));
  EXPECT_EQ(arrayOf(json, "lineHeat")[0], "0.0181");  // double: 0.0180
  json = buildCodeMessage("p", "a\nb\nc", fileWith({0.0590348, 1.0, 1.0}));
  EXPECT_EQ(arrayOf(json, "lineHeat")[0], "0.0828");  // double: 0.0827
}

// --- "setAudit" ---

// A file in a private temporary folder, removed with the fixture.
class AuditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / "varnholt_protocol_audit_test";
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string writeFile(const std::string& name, const std::string& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
  }

  std::filesystem::path dir_;
};

TEST_F(AuditTest, MessageFormat) {
  const std::string empty =
      "{\"type\":\"setAudit\",\"hint\":\"Whole codebase \xC2\xB7 Click a row to jump\","
      "\"items\":[]}";
  ProjectFileMap files;
  EXPECT_EQ(buildAuditMessage(selectAuditItems(files)), empty);
  files["/p/a.c"] = fileWith({});
  EXPECT_EQ(buildAuditMessage(selectAuditItems(files)), empty);

  AuditItem item;
  item.path = "C:\\p\\a.c";
  item.lineStart = item.lineEnd = 12;
  item.cv = 3.5;
  item.heat01 = 0.25;
  item.preview = "for (i = 0; i < n; i++) {\x01";
  const std::string json = buildAuditMessage({item, item});
  const std::string itemJson =
      R"({"path":"C:\\p\\a.c","file":"a.c","lineStart":12,"lineEnd":12,"cv":3.50,)"
      R"("heat01":0.2500,"kind":"line","preview":"for (i = 0; i < n; i++) {\u0001"})";
  EXPECT_EQ(json, empty.substr(0, empty.size() - 2) + itemJson + "," + itemJson + "]}");
}

TEST_F(AuditTest, KeepsTheHottest30) {
  ProjectFileMap files;
  std::vector<double> a;
  std::vector<double> b;
  for (int i = 0; i < 20; ++i) a.push_back(1.0 + 2.0 * i);  // odd values
  for (int i = 0; i < 11; ++i) b.push_back(2.0 + 2.0 * i);  // even values
  b[4] = 0.5;  // the coolest line: /p/b.c:5
  files["/nonexistent/p/a.c"] = fileWith(a, 400.0);
  files["/nonexistent/p/b.c"] = fileWith(b, 100.0);

  std::vector<AuditItem> items = selectAuditItems(files);
  ASSERT_EQ(items.size(), 30u);
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_FALSE(items[i].path == "/nonexistent/p/b.c" && items[i].lineStart == 5);
    if (i > 0) {
      EXPECT_GT(items[i - 1].cv, items[i].cv);
    }
    EXPECT_EQ(items[i].lineStart, items[i].lineEnd);
    EXPECT_EQ(items[i].kind, "line");
    EXPECT_EQ(items[i].preview, "");  // unreadable file
  }
  EXPECT_EQ(items[0].path, "/nonexistent/p/a.c");
  EXPECT_EQ(items[0].lineStart, 20);
  EXPECT_EQ(items[0].cv, 39.0);

  files["/nonexistent/p/b.c"].lineHeatRaw.pop_back();  // 30 lines in all
  items = selectAuditItems(files);
  ASSERT_EQ(items.size(), 30u);
  EXPECT_EQ(items.back().cv, 0.5);
}

TEST_F(AuditTest, PreviewsAndFileRelativeHeat) {
  const std::string cut = std::string(139, 'a') + "\xC3\xA9";
  const std::string path =
      writeFile("a.c", "int a;\r\n\tif (x)\t{\n" + std::string(200, 'x') + "\n" + cut);
  ProjectFileMap files;
  files[path] = fileWith({6.0, 5.0, 4.0, 3.0, 2.0, 1.0}, 8.0);  // 2 lines past the end
  files["/nonexistent/b.c"] = fileWith({0.3}, 0.4);
  const std::vector<AuditItem> items = selectAuditItems(files);
  ASSERT_EQ(items.size(), 7u);
  const Strings previews = {"int a;", " if (x) {", std::string(140, 'x'), cut.substr(0, 139),
                            "", ""};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(items[i].path, path);
    EXPECT_EQ(items[i].lineStart, static_cast<int32_t>(i + 1));
    EXPECT_EQ(items[i].preview, previews[i]) << i;
  }
  EXPECT_EQ(items[4].heat01, 0.25);
  EXPECT_EQ(formatFixed(items[0].heat01, 4), "0.7500");
  EXPECT_EQ(items[6].path, "/nonexistent/b.c");
  EXPECT_EQ(formatFixed(items[6].heat01, 4), "0.3000");
  // The cut falls before a character that does not fit whole.
  const std::u16string wide = utf8ToWide(buildAuditMessage(items));
  EXPECT_NE(wide.find(u"\"" + std::u16string(139, u'a') + u"\""), std::u16string::npos);
}

TEST_F(AuditTest, FileThatGrewBeyondReachGivesEmptyPreviews) {
  const std::string path = writeFile("huge.c", "int a;\n");
  // Sparse, so it costs no disk; read whole, it could never fit in memory.
  std::error_code error;
  std::filesystem::resize_file(dir_ / "huge.c", uintmax_t{1} << 40, error);
  if (error) GTEST_SKIP() << "this file system cannot hold a sparse 1 TiB file";
  ProjectFileMap files;
  files[path] = fileWith({2.0, 1.0}, 3.0);
  std::vector<AuditItem> items;
  ASSERT_NO_THROW(items = selectAuditItems(files));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].preview, "");
  EXPECT_EQ(items[1].preview, "");
}

TEST_F(AuditTest, ReadsEachOwningFileForItsPreviews) {
  // Many small files: their texts are short enough to live inside the
  // string object, so the previews must not point into moved copies.
  ProjectFileMap files;
  for (int f = 0; f < 12; ++f) {
    const std::string number = std::to_string(f);
    files[writeFile("s" + number + ".c", "x\ty" + number + "\nz")] =
        fileWith({10.0 + f, 1.0 + f}, 20.0);
  }
  const std::vector<AuditItem> items = selectAuditItems(files);
  ASSERT_EQ(items.size(), 24u);
  for (const AuditItem& item : items) {
    const std::string_view name = lastComponent(item.path);
    const std::string number(name.substr(1, name.size() - 3));
    EXPECT_EQ(item.preview, item.lineStart == 1 ? "x y" + number : std::string("z"));
  }
}

TEST_F(AuditTest, SelectionMatchesSortingEveryLine) {
  std::mt19937 random(42);
  const double levels[] = {0.0, 0.5, 1.0, 1.0, 2.0, 3.5, 7.0};
  const char* names[] = {"a", "ab", "b", "B", "a\\b", "\xC3\xA9", "a/b", "ba"};
  for (int round = 0; round < 200; ++round) {
    ProjectFileMap files;
    std::vector<std::tuple<double, std::string, int32_t>> all;
    const int fileCount = static_cast<int>(random() % 8);
    for (int f = 0; f < fileCount; ++f) {
      const std::string path = std::string("/nonexistent/") + names[random() % 8] +
                               std::to_string(random() % 3);
      if (files.count(path)) continue;
      ProjectFile& file = files[path];
      const int lines = static_cast<int>(random() % 50);
      for (int l = 0; l < lines; ++l) {
        // Mostly few distinct values, so that ties are common.
        const double v = round % 2 ? levels[random() % 7] : static_cast<double>(random() % 1000) / 10.0;
        file.lineHeatRaw.push_back(v);
        all.emplace_back(v, path, l + 1);
      }
    }
    std::sort(all.begin(), all.end(), [](const auto& x, const auto& y) {
      if (std::get<0>(x) != std::get<0>(y)) return std::get<0>(x) > std::get<0>(y);
      return std::tie(std::get<1>(x), std::get<2>(x)) < std::tie(std::get<1>(y), std::get<2>(y));
    });
    for (size_t limit : {size_t{0}, size_t{1}, size_t{7}, size_t{30}, size_t{500}}) {
      const std::vector<AuditItem> items = selectAuditItems(files, limit);
      ASSERT_EQ(items.size(), std::min(limit, all.size()));
      for (size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(std::tie(items[i].cv, items[i].path, items[i].lineStart), all[i])
            << "round " << round << " limit " << limit << " item " << i;
      }
    }
  }
}

}  // namespace
}  // namespace varnholt_app
