#include "project/count_lines.h"

#include <gtest/gtest.h>

#include "temp_tree.h"

namespace varnholt_app {
namespace {

int32_t linesOf(const std::string& bytes) {
  testing::TempTree tree;
  tree.file("f", bytes);
  return countLines(tree.key("f"));
}

TEST(CountLines, LineFeedsPlusAnUnterminatedLastLine) {
  EXPECT_EQ(linesOf(""), 0);
  EXPECT_EQ(linesOf("a"), 1);
  EXPECT_EQ(linesOf("\n"), 1);
  EXPECT_EQ(linesOf("a\nb"), 2);
  EXPECT_EQ(linesOf("a\nb\n"), 2);
  EXPECT_EQ(linesOf("a\n\n"), 2);
  EXPECT_EQ(linesOf("a\rb\r"), 1);  // a lone CR ends no line
  EXPECT_EQ(linesOf("a\r\nb\r\n"), 2);
}

TEST(CountLines, AcrossBlockBoundaries) {
  EXPECT_EQ(linesOf(std::string(65536, '\n')), 65536);
  EXPECT_EQ(linesOf(std::string(65536, '\n') + "x"), 65537);
  EXPECT_EQ(linesOf(std::string(65535, 'x') + "\n" + std::string(3, 'y')), 2);
  EXPECT_EQ(linesOf(std::string(3 * 65536 + 17, '\n')), 3 * 65536 + 17);
}

TEST(CountLines, UnreadableFilesCountNothing) {
  testing::TempTree tree;
  EXPECT_EQ(countLines(tree.key("missing")), 0);
  tree.dir("folder");
  EXPECT_EQ(countLines(tree.key("folder")), 0);
  tree.file("f", "abc\n");
  int64_t bytes = -1;
  EXPECT_EQ(countLines(tree.key("f"), bytes), 1);
  EXPECT_EQ(bytes, 4);
}

}  // namespace
}  // namespace varnholt_app
