#include "protocol/paths.h"

#include <gtest/gtest.h>

#include "protocol/messages.h"

namespace varnholt_app {
namespace {

struct PathCase {
  const char* path;
  const char* last;
  const char* parent;
};

TEST(PathComponents, SplitWindowsAndPosixPaths) {
  const PathCase cases[] = {
      {"C:\\work\\app\\src\\main.c", "main.c", "C:\\work\\app\\src"},
      {"C:\\main.c", "main.c", "C:\\"},
      {"C:\\", "", "C:\\"},
      {"C:", "", "C:"},
      {"C:a.c", "a.c", "C:"},
      {"C:/a\\b/c.c", "c.c", "C:/a\\b"},
      {"C:\\a\\\\b.c", "b.c", "C:\\a"},
      {"C:\\dir\\", "", "C:\\dir"},
      {"/home/x/a.c", "a.c", "/home/x"},
      {"/a.c", "a.c", "/"},
      {"/", "", "/"},
      {"a.c", "a.c", ""},
      {"", "", ""},
      {"\\\\server\\share\\f.c", "f.c", "\\\\server\\share"},
      {"\\\\server\\share", "share", "\\\\server\\"},
      {"\\\\server", "", "\\\\server"},
      {"\\\\?\\C:\\x\\y.c", "y.c", "\\\\?\\C:\\x"},
      {"\\\\?\\C:", "C:", "\\\\?\\"},
      {"\\\\.\\pipe\\name", "name", "\\\\.\\pipe"},
      {"\\??\\C:\\a", "a", "\\??\\C:"},
      {"\\\\\xC3\xA9\\d\\\xC3\xA9.c", "\xC3\xA9.c", "\\\\\xC3\xA9\\d"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(lastComponent(c.path), c.last) << c.path;
    EXPECT_EQ(parentPath(c.path), c.parent) << c.path;
  }
}

TEST(ProjectNameFor, UsesTheFolderOfTheFirstFile) {
  ProjectFileMap files;
  EXPECT_EQ(projectNameFor(files), "Varnholt");
  files["C:\\work\\app\\src\\main.c"];
  EXPECT_EQ(projectNameFor(files), "src");
  files.clear();
  files["C:\\main.c"];
  EXPECT_EQ(projectNameFor(files), "main.c");
  files.clear();
  files["/home/me/proj/a.py"];
  EXPECT_EQ(projectNameFor(files), "proj");
  files.clear();
  files["C:\\"];
  EXPECT_EQ(projectNameFor(files), "Varnholt");
}

}  // namespace
}  // namespace varnholt_app
