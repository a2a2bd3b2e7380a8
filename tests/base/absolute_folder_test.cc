#include "base/absolute_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace varnholt_app {
namespace {

TEST(AbsoluteFolder, IsAbsoluteLexicallyNormalAndEndsWithoutSeparator) {
  const std::filesystem::path current = std::filesystem::current_path();
  EXPECT_EQ(absoluteFolder(asciiToNative("proj")), (current / "proj").native());
  EXPECT_EQ(absoluteFolder(asciiToNative("./proj/../lib//")), (current / "lib").native());
  EXPECT_EQ(absoluteFolder(asciiToNative(".")), current.native());
#ifdef _WIN32
  EXPECT_EQ(absoluteFolder(L"C:\\src\\app\\\\"), L"C:\\src\\app");
  EXPECT_EQ(absoluteFolder(L"C:/src/./app/../lib/"), L"C:\\src\\lib");
  EXPECT_EQ(absoluteFolder(L"C:\\"), L"C:\\");  // a root keeps its separator
#else
  EXPECT_EQ(absoluteFolder("/data//x/./y/..///"), "/data/x");
  EXPECT_EQ(absoluteFolder("/"), "/");
  EXPECT_EQ(absoluteFolder("/.."), "/");
#endif
}

}  // namespace
}  // namespace varnholt_app
