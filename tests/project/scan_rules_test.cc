#include "project/scan_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_tree.h"

namespace varnholt_app {
namespace {

TEST(ExtensionOf, TakesTheLastDotAndLowerCasesAsciiOnly) {
  EXPECT_EQ(extensionOf("main.c"), "c");
  EXPECT_EQ(extensionOf("MAIN.SWIFT"), "swift");
  EXPECT_EQ(extensionOf("archive.tar.gz"), "gz");
  EXPECT_EQ(extensionOf("Makefile"), "");
  EXPECT_EQ(extensionOf("trailing."), "");
  EXPECT_EQ(extensionOf(".DS_Store"), "");
  EXPECT_EQ(extensionOf(".profile"), "");
  EXPECT_EQ(extensionOf("."), "");
  EXPECT_EQ(extensionOf(".."), "");
  EXPECT_EQ(extensionOf("..x"), "x");
  EXPECT_EQ(extensionOf(".config.JSON"), "json");
  // Non-ASCII bytes pass through unchanged.
  EXPECT_EQ(extensionOf("a.\xC3\x89X"), "\xC3\x89x");
}

TEST(ScanTables, NamesCompareExactlyAndExtensionsLowerCased) {
  EXPECT_TRUE(isIgnoredDirectoryName("node_modules"));
  EXPECT_TRUE(isIgnoredDirectoryName("DerivedData"));
  EXPECT_TRUE(isIgnoredDirectoryName("xcuserdata"));
  EXPECT_FALSE(isIgnoredDirectoryName("NODE_MODULES"));
  EXPECT_FALSE(isIgnoredDirectoryName("Build"));
  EXPECT_FALSE(isIgnoredDirectoryName("builds"));
  EXPECT_FALSE(isIgnoredDirectoryName(""));

  EXPECT_TRUE(isIgnoredFileName(".DS_Store"));
  EXPECT_FALSE(isIgnoredFileName(".ds_store"));

  EXPECT_TRUE(isIgnoredExtension("png"));
  EXPECT_TRUE(isIgnoredExtension("a"));
  EXPECT_TRUE(isIgnoredExtension("perspectivev3"));
  EXPECT_FALSE(isIgnoredExtension("PNG"));  // callers lower-case first
  EXPECT_FALSE(isIgnoredExtension(""));
  EXPECT_FALSE(isIgnoredExtension("txt"));
}

TEST(ScanTables, LanguageByExtension) {
  EXPECT_EQ(languageForExtension("swift"), LanguageId::Swift);
  EXPECT_EQ(languageForExtension("h"), LanguageId::ObjC);
  EXPECT_EQ(languageForExtension("mm"), LanguageId::ObjC);
  EXPECT_EQ(languageForExtension("c"), LanguageId::C);
  EXPECT_EQ(languageForExtension("hxx"), LanguageId::Cpp);
  EXPECT_EQ(languageForExtension("yml"), LanguageId::Yaml);
  EXPECT_EQ(languageForExtension("htm"), LanguageId::Html);
  EXPECT_EQ(languageForExtension("css"), LanguageId::Css);
  EXPECT_EQ(languageForExtension("sh"), LanguageId::Shell);
  EXPECT_FALSE(languageForExtension("txt").has_value());
  EXPECT_FALSE(languageForExtension("C").has_value());
  EXPECT_FALSE(languageForExtension("").has_value());
}

TEST(ScanTables, XcuserdataFragmentAnywhereInThePath) {
  EXPECT_TRUE(isInsideXcuserdata("/p/xcuserdata/a.swift"));
  EXPECT_TRUE(isInsideXcuserdata("/p/.xcuserdata/a"));
  EXPECT_TRUE(isInsideXcuserdata("C:\\Users\\x\\Proj.xcodeproj\\xcuserdata\\me\\a.swift"));
  EXPECT_TRUE(isInsideXcuserdata("/p/XcUserData/a"));
  EXPECT_TRUE(isInsideXcuserdata("C:\\p/XCUSERDATA\\a"));
  EXPECT_FALSE(isInsideXcuserdata("/p/xcuserdata"));  // the folder itself
  EXPECT_FALSE(isInsideXcuserdata("/p/myxcuserdata/a"));
  EXPECT_FALSE(isInsideXcuserdata("/p/xcuserdata2/a"));
  EXPECT_FALSE(isInsideXcuserdata("/p/..xcuserdata/a"));
  EXPECT_FALSE(isInsideXcuserdata("xcuserdata/a"));  // needs a separator before
  EXPECT_FALSE(isInsideXcuserdata(""));
}

TEST(TextTest, ControlBytesUpToTwoPercentAndNoNul) {
  EXPECT_TRUE(bytesLookLikeText(""));
  EXPECT_TRUE(bytesLookLikeText("plain\ttext\r\n"));
  std::string hundred(100, 'x');
  hundred[10] = '\f';
  hundred[20] = '\x1b';
  EXPECT_TRUE(bytesLookLikeText(hundred));  // exactly 2 %
  hundred[30] = '\x01';
  EXPECT_FALSE(bytesLookLikeText(hundred));  // 3 %
  EXPECT_FALSE(bytesLookLikeText(std::string("ab\0c", 4)));
  // DEL and bytes above 0x7F are not control bytes here.
  EXPECT_TRUE(bytesLookLikeText(std::string(50, '\x7f') + std::string(50, '\xff')));
}

TEST(TextTest, ReadsOnlyTheFirst64KiBOfAFile) {
  testing::TempTree tree;
  tree.file("late_nul", std::string(65536, 'a') + std::string(1, '\0'));
  tree.file("early_nul", std::string(65535, 'a') + std::string(1, '\0'));
  tree.file("empty", "");
  EXPECT_TRUE(looksLikeText(tree.path("late_nul").native()));
  EXPECT_FALSE(looksLikeText(tree.path("early_nul").native()));
  EXPECT_TRUE(looksLikeText(tree.path("empty").native()));
  EXPECT_FALSE(looksLikeText(tree.path("missing").native()));
}

}  // namespace
}  // namespace varnholt_app
