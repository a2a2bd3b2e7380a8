#include "project/hot_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <tuple>

#include "temp_tree.h"

namespace varnholt_app {
namespace {

using Strings = std::vector<std::string>;

ProjectFile fileWith(std::vector<double> lineHeatRaw, double heatRaw = 0.0) {
  ProjectFile file;
  file.lineHeatRaw = lineHeatRaw;
  file.heatRaw = heatRaw;
  file.lineCount = static_cast<int32_t>(lineHeatRaw.size());
  return file;
}

TEST(HotLines, HottestLinesWithPreviewsFromTheirOwnFiles) {
  testing::TempTree tree;
  const std::string cut = std::string(139, 'a') + "\xC3\xA9";
  tree.file("a.c", "int a;\r\n\tif (x)\t{\n" + std::string(200, 'x') + "\n" + cut);
  ProjectFileMap files;
  files[tree.key("a.c")] = fileWith({6.0, 5.0, 4.0, 3.0, 2.0, 1.0}, 8.0);  // 2 lines past the end
  files["/nonexistent/b.c"] = fileWith({0.3}, 0.4);
  // Short texts live inside the string object: previews must not point into moved copies.
  for (int f = 0; f < 12; ++f) {
    tree.file("s" + std::to_string(f), "x\ty" + std::to_string(f) + "\nz");
    files[tree.key("s" + std::to_string(f))] = fileWith({0.1, 0.01 + f * 0.001}, 1.0);
  }
  std::vector<AuditItem> items = selectAuditItems(files);
  ASSERT_EQ(items.size(), 30u);
  const Strings previews = {"int a;", " if (x) {", std::string(140, 'x'), cut.substr(0, 139), "", ""};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(items[i].path, tree.key("a.c"));
    EXPECT_EQ(items[i].lineStart, static_cast<int32_t>(i + 1));
    EXPECT_EQ(items[i].preview, previews[i]) << i;
  }
  EXPECT_EQ(items[4].heat01, 0.25);  // of its own file's heat
  EXPECT_EQ(items[6].path, "/nonexistent/b.c");
  EXPECT_EQ(items[6].preview, "");
  for (size_t i = 7; i < items.size(); ++i) {
    const std::string number = items[i].path.substr(items[i].path.find_last_of("/\\") + 2);
    EXPECT_EQ(items[i].preview, items[i].lineStart == 1 ? "x y" + number : std::string("z"));
  }

  // A file that grew beyond reach since (sparse: no disk) gives empty previews.
  std::error_code error;
  std::filesystem::resize_file(tree.path("a.c"), uintmax_t{1} << 40, error);
  if (error) GTEST_SKIP() << "this file system cannot hold a sparse 1 TiB file";
  ASSERT_NO_THROW(items = selectAuditItems(files));
  EXPECT_EQ(items[0].preview, "");
}

// Selection against sorting every line: heat down, then path and line up.
TEST(HotLines, SelectionMatchesSortingEveryLine) {
  std::mt19937 random(42);
  const double levels[] = {0.0, 0.5, 1.0, 1.0, 2.0, 3.5, 7.0};
  const char* names[] = {"a", "ab", "b", "B", "a\\b", "\xC3\xA9", "a/b", "ba"};
  for (int round = 0; round < 200; ++round) {
    ProjectFileMap files;
    std::vector<std::tuple<double, std::string, int32_t>> all;
    for (int f = static_cast<int>(random() % 8); f > 0; --f) {
      const std::string path = std::string("/nonexistent/") + names[random() % 8] + std::to_string(random() % 3);
      if (files.count(path)) continue;
      std::vector<double> heats;
      for (int l = 0, lines = static_cast<int>(random() % 50); l < lines; ++l) {
        const double v = round % 2 ? levels[random() % 7] : static_cast<double>(random() % 1000) / 10.0;
        heats.push_back(v);
        all.emplace_back(-v, path, l + 1);
      }
      files[path].lineHeatRaw = heats;
    }
    std::sort(all.begin(), all.end());
    for (size_t limit : {size_t{0}, size_t{1}, size_t{7}, size_t{30}, size_t{500}}) {
      const std::vector<AuditItem> items = selectAuditItems(files, limit);
      ASSERT_EQ(items.size(), std::min(limit, all.size()));
      for (size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(std::tie(items[i].path, items[i].lineStart), std::tie(std::get<1>(all[i]), std::get<2>(all[i])));
        ASSERT_EQ(items[i].cv, -std::get<0>(all[i])) << "round " << round << " limit " << limit;
      }
      // A cap per file: the same order, skipping the lines of a file that has given its share.
      for (size_t cap : {size_t{1}, size_t{3}}) {
        std::map<std::string, size_t> taken;
        std::vector<std::pair<std::string, int32_t>> want, got;
        for (const auto& [v, path, line] : all) if (want.size() < limit && taken[path]++ < cap) want.emplace_back(path, line);
        for (const AuditItem& item : selectAuditItems(files, limit, false, FileScope::All, cap)) got.emplace_back(item.path, item.lineStart);
        ASSERT_EQ(got, want) << "round " << round << " cap " << cap;
      }
    }
  }
}

}  // namespace
}  // namespace varnholt_app
