#include "project/walk.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

#include "project/scan_rules.h"
#include "project/walk_platform.h"
#include "temp_tree.h"

namespace varnholt_app {
namespace {

using testing::TempTree;
using Records = std::map<std::string, LanguageId>;

Records recordsOf(const ProjectModel& model) {
  Records records;
  for (const auto& [key, file] : model.files) {
    EXPECT_EQ(key, file.path);
    records.emplace(key, file.language);
  }
  return records;
}

Records scan(const NativeString& root) { return recordsOf(scanProject(root)); }

TEST(Walk, RulesInOrder) {
  TempTree tree;
  const std::string twoMiB(2097152, 'a');
  const std::pair<const char*, std::string> files[] = {
      {"src/main.c", "int main() { return 0; }\n"}, {"src/MAIN.SWIFT", "let x = 1\n"},
      {"src/view.h", "@interface V\n@end\n"},       {"Makefile", "all:\n"},
      {"blob.bin", std::string("ab\0cd", 5)},       {"IMAGE.PNG", "text, but the name decides\n"},
      {"archive.tar.gz", "text\n"},                 {".env", "SECRET=1\n"},
      {".config/tool.json", "{}\n"},                {"node_modules/x.js", "x()\n"},
      {"build/gen.c", "int g;\n"},                  {"cased/NODE_MODULES/y.js", "y()\n"},
      {"Proj.xcodeproj/XcUserData/me/s.swift", "let s = 1\n"}, {"myxcuserdata/a.c", "int a;\n"},
      {"xcuserdata2/b.c", "int b;\n"},             {"empty.c", ""},                              {"limit.txt", twoMiB},
      {"over.c", twoMiB + "a"},
  };
  for (const auto& [name, bytes] : files) tree.file(name, bytes);
#ifndef _WIN32
  // A backslash in a name counts as a separator of the fragment.
  tree.file("xcuserdata\\in.c", "int i;\n");
  tree.file("src/x\\.xcuserdata\\in.c", "int i;\n");
#endif
  Records expected;
  for (int d = 0; d < 24; ++d) {
    // In steps: mingw's gcc 12 warns falsely (-Wrestrict) on "literal" + string.
    std::string name = "d";
    name.append(std::to_string(d % 6)).append("/s").append(std::to_string(d / 6)).append("/deeper/c.go");
    tree.file(name, "package c\n");
    expected[tree.key(name)] = LanguageId::Go;
  }
  for (const char* name : {"Makefile", "limit.txt"}) expected[tree.key(name)] = LanguageId::PlainText;
  for (const char* name : {"src/main.c", "myxcuserdata/a.c", "xcuserdata2/b.c"}) expected[tree.key(name)] = LanguageId::C;
  expected[tree.key("src/MAIN.SWIFT")] = LanguageId::Swift;
  expected[tree.key("src/view.h")] = LanguageId::ObjC;
  expected[tree.key("cased/NODE_MODULES/y.js")] = LanguageId::JavaScript;
  EXPECT_EQ(scan(tree.native()), expected);
  // The map's own iteration order comes from the insertion order: the same on any number of threads.
  auto order = [&](int threads) {
    std::vector<std::string> keys;
    for (const auto& entry : scanProject(tree.native(), threads).files) keys.push_back(entry.first);
    return keys;
  };
  for (int threads : {2, 3, 8}) EXPECT_EQ(order(threads), order(1)) << threads << " threads";
}

TEST(ScanRules, TextTestOnTheFirst64KiB) {
  std::string hundred(100, 'x');
  hundred[10] = hundred[20] = '\x1b';
  EXPECT_TRUE(bytesLookLikeText(hundred));  // exactly 2 %
  hundred[30] = '\x01';
  EXPECT_FALSE(bytesLookLikeText(hundred));
  EXPECT_TRUE(bytesLookLikeText(std::string(50, '\x7f') + std::string(50, '\xff')));
  TempTree tree;
  tree.file("late_nul", std::string(65536, 'a') + std::string(1, '\0'));  // only the first 64 KiB count
  tree.file("early_nul", std::string(65535, 'a') + std::string(1, '\0'));
  EXPECT_TRUE(looksLikeText(tree.path("late_nul").native()));
  EXPECT_FALSE(looksLikeText(tree.path("early_nul").native()));
  EXPECT_FALSE(looksLikeText(tree.path("missing").native()));
}

TEST(Walk, RootForms) {
  TempTree tree;
  tree.file("a.swift", "let a = 1\n");
  tree.file("build/b.swift", "let b = 1\n");
  tree.file("P.xcodeproj/xcuserdata/me/c.swift", "let c = 1\n");
  tree.dir("empty");

  // A trailing separator gives the same keys, never "//".
  NativeString withSeparator = tree.native();
  withSeparator.push_back(kNativeSeparator);
  const Records plain = scan(tree.native());
  EXPECT_EQ(scan(withSeparator), plain);
  EXPECT_EQ(plain.count(tree.key("a.swift")), 1u);
  // The root is never filtered by its own name, but xcuserdata is a fragment of every path below.
  EXPECT_EQ(scan(tree.path("build").native()), (Records{{tree.key("build/b.swift"), LanguageId::Swift}}));
  EXPECT_TRUE(scan(tree.path("P.xcodeproj/xcuserdata").native()).empty());
  // A file root is that one file; missing, empty or impossible roots are empty.
  EXPECT_EQ(scan(tree.path("a.swift").native()), (Records{{tree.key("a.swift"), LanguageId::Swift}}));
  for (const char* root : {"missing", "a.swift/inside", "empty"}) EXPECT_TRUE(scan(tree.path(root).native()).empty());

  // Records already present keep what they hold.
  ProjectFileMap files;
  files[tree.key("a.swift")].language = LanguageId::Rust;
  scanPath(tree.path("a.swift").native(), files);
  EXPECT_EQ(files.begin()->second.language, LanguageId::Rust);
  EXPECT_EQ(files.begin()->second.path, "");
}

TEST(Walk, LinksAreFollowedAndEachDirectoryListedOnce) {
  TempTree tree;
  TempTree outside;
  tree.file("real/a.c", "int a;\n");
  tree.file("real/b/y.c", "int y;\n");
  outside.file("x.c", "int x;\n");
  std::error_code error;
  for (const auto& [target, link] :
       {std::pair{outside.root(), tree.path("linked")}, {outside.root(), tree.path("node_modules")},
        {tree.path("real"), tree.path("again")}, {tree.root(), tree.path("real/b/up")},
        {tree.path("real"), tree.path("real/b/self")}}) {
    std::filesystem::create_directory_symlink(target, link, error);
    if (error) GTEST_SKIP() << "this system cannot make directory links here";
  }
  // A directory keeps its own path; a second link to it, or one back up, counts as empty.
  Records expected;
  for (const char* key : {"linked/x.c", "real/a.c", "real/b/y.c"}) expected[tree.key(key)] = LanguageId::C;
#ifndef _WIN32
  tree.file("data/real.py", "print(1)\n");
  std::filesystem::create_symlink(tree.path("data/real.py"), tree.path("alias.py"));
  std::filesystem::create_symlink(tree.path("nowhere"), tree.path("dangling.py"));
  expected[tree.key("alias.py")] = expected[tree.key("data/real.py")] = LanguageId::Python;
#endif
  EXPECT_EQ(scan(tree.native()), expected);
}

#ifdef _WIN32
TEST(Walk, NameWithoutUtf8FormEndsTheScan) {
  TempTree tree;
  NativeString bad = tree.native() + L"\\x\xD800y.c";
  HANDLE h = CreateFileW(bad.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this file system refuses such names";
  CloseHandle(h);
  EXPECT_THROW(scanProject(tree.native()), Failure);
  DeleteFileW(bad.c_str());
}

TEST(Walk, KnownTextIsNotProbedAgain) {
  TempTree tree;
  tree.file("README", "plain words\n");
  const ProjectModel first = scanProject(tree.native());
  ASSERT_EQ(first.files.size(), 1u);
  const TextStamps known{first.files.begin()->second.stamp};
  // Held open without sharing: the probe cannot read it, the stamps stay.
  HANDLE lock = CreateFileW(tree.path("README").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(scanProject(tree.native(), 1, &known).files.size(), 1u);
  EXPECT_TRUE(scanProject(tree.native(), 1).files.empty());
  CloseHandle(lock);
}
#else
TEST(Walk, OddEntries) {
  TempTree tree;
  const std::string latin1 = "caf\xE9.c";  // not UTF-8: the key keeps the bytes
  tree.file(latin1, "int cafe;\n");
  tree.file("locked/b.c", "int b;\n");
  EXPECT_EQ(scan(tree.native()).count(tree.native() + "/" + latin1), 1u);

  // A FIFO met by the text probe must not wait for a writer.
  ASSERT_EQ(::mkfifo(tree.path("pipe").c_str(), 0600), 0);
  DirectoryReader reader;
  ASSERT_TRUE(reader.open(tree.native()));
  DirEntry entry;
  while (reader.next(entry) && entry.name != "pipe") {
  }
  ASSERT_EQ(entry.name, "pipe");
  std::atomic<bool> done{false};
  std::thread probe([&] {
    char buffer[16];
    size_t got = 99;
    reader.readPrefix(entry, buffer, sizeof buffer, got);
    EXPECT_EQ(got, 0u);
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(done) << "the probe is stuck opening the FIFO";
  if (!done) ::close(::open(tree.path("pipe").c_str(), O_WRONLY | O_NONBLOCK));
  probe.join();

  // An unreadable folder counts as empty (root reads anything, so drop it).
  std::filesystem::permissions(tree.path("locked"), std::filesystem::perms::none);
  const bool dropped = ::geteuid() != 0 || ::seteuid(65534) == 0;
  const Records records = dropped ? scan(tree.native()) : Records{};
  if (::geteuid() != 0 && ::getuid() == 0 && ::seteuid(0) != 0) std::abort();
  std::filesystem::permissions(tree.path("locked"), std::filesystem::perms::owner_all);
  if (!dropped) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(records.count(tree.key("locked/b.c")), 0u);
  EXPECT_EQ(records.count(tree.key(latin1)), 1u);
}
#endif

}  // namespace
}  // namespace varnholt_app
