#include "protocol/paths.h"

#include <gtest/gtest.h>

#include "protocol/messages.h"

namespace varnholt_app {
namespace {

TEST(Paths, WindowsAndPosixComponentsAndTheProjectName) {
  const struct {
    const char* path;
    const char* last;
    const char* parent;
  } cases[] = {
      {"C:\\main.c", "main.c", "C:\\"},
      {"C:", "", "C:"},
      {"C:a.c", "a.c", "C:"},
      {"C:/a\\b/c.c", "c.c", "C:/a\\b"},
      {"C:\\a\\\\b.c", "b.c", "C:\\a"},
      {"C:\\dir\\", "", "C:\\dir"},
      {"/a.c", "a.c", "/"},
      {"/", "", "/"},
      {"a.c", "a.c", ""},
      {"\\\\server\\share", "share", "\\\\server\\"},
      {"\\\\server", "", "\\\\server"},
      {"\\\\?\\C:\\x\\y.c", "y.c", "\\\\?\\C:\\x"},
      {"\\\\?\\C:", "C:", "\\\\?\\"},
      {"\\??\\C:\\a", "a", "\\??\\C:"},
      {"\\\\\xC3\xA9\\d\\\xC3\xA9.c", "\xC3\xA9.c", "\\\\\xC3\xA9\\d"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lastComponent(c.path), c.last) << c.path;
    EXPECT_EQ(parentPath(c.path), c.parent) << c.path;
  }
  for (const auto& [path, name] : {std::pair{"C:\\work\\src\\main.c", "src"}, {"C:\\main.c", "main.c"},
                                   {"/home/me/proj/a.py", "proj"}, {"C:\\", "Varnholt"}}) {
    ProjectFileMap files;
    files[path];
    EXPECT_EQ(projectNameFor(files), name) << path;
  }
}

}  // namespace
}  // namespace varnholt_app
