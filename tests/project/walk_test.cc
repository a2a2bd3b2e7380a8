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
    EXPECT_TRUE(file.lineHeatRaw.empty());
    EXPECT_EQ(file.heatRaw, 0.0);
    records.emplace(key, file.language);
  }
  return records;
}

Records scan(const TempTree& tree) { return recordsOf(scanProject(tree.native())); }

// Symbolic links need privileges on Windows and are not everywhere.
bool makeDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::error_code error;
  std::filesystem::create_directory_symlink(target, link, error);
  return !error;
}

TEST(Walk, RulesInOrder) {
  TempTree tree;
  tree.file("src/main.c", "int main() { return 0; }\n");
  tree.file("src/MAIN.SWIFT", "let x = 1\n");
  tree.file("src/view.h", "@interface V\n@end\n");
  tree.file("Makefile", "all:\n\tcc main.c\n");
  tree.file("notes.txt", "some notes\n");
  tree.file("blob.bin", std::string("ab\0cd", 5));
  tree.file("IMAGE.PNG", "not really an image, but the name decides\n");
  tree.file("archive.tar.gz", "text, but the extension decides\n");
  tree.file(".env", "SECRET=1\n");
  tree.file(".config/tool.json", "{}\n");
  tree.file("node_modules/x.js", "x()\n");
  tree.file("build/gen.c", "int g;\n");
  // Names compare case-sensitively (in another folder, for file systems
  // that do not tell the two spellings apart).
  tree.file("cased/NODE_MODULES/y.js", "y()\n");
  tree.file("cased/Build/z.c", "int z;\n");
  tree.file("Proj.xcodeproj/XcUserData/me/state.swift", "let s = 1\n");
  tree.file("Proj.xcodeproj/project.pbxproj", "// !$*UTF8*$!\n");

  const Records expected = {
      {tree.key("Makefile"), LanguageId::PlainText},
      {tree.key("Proj.xcodeproj/project.pbxproj"), LanguageId::PlainText},
      {tree.key("cased/Build/z.c"), LanguageId::C},
      {tree.key("cased/NODE_MODULES/y.js"), LanguageId::JavaScript},
      {tree.key("notes.txt"), LanguageId::PlainText},
      {tree.key("src/MAIN.SWIFT"), LanguageId::Swift},
      {tree.key("src/main.c"), LanguageId::C},
      {tree.key("src/view.h"), LanguageId::ObjC},
  };
  EXPECT_EQ(scan(tree), expected);
}

TEST(Walk, SizeWindowIsTestedBeforeTheText) {
  TempTree tree;
  const std::string twoMiB(2097152, 'a');
  tree.file("empty.c", "");
  tree.file("one.c", "x");
  tree.file("limit.c", twoMiB);
  tree.file("over.c", twoMiB + "a");
  tree.file("limit.txt", twoMiB);
  tree.file("over.txt", twoMiB + "a");
  std::string hundred(100, 'x');
  hundred[1] = '\f';
  hundred[2] = '\f';
  tree.file("two_percent", hundred);
  hundred[3] = '\f';
  tree.file("three_percent", hundred);

  const Records expected = {
      {tree.key("limit.c"), LanguageId::C},
      {tree.key("limit.txt"), LanguageId::PlainText},
      {tree.key("one.c"), LanguageId::C},
      {tree.key("two_percent"), LanguageId::PlainText},
  };
  EXPECT_EQ(scan(tree), expected);
}

TEST(Walk, RootForms) {
  TempTree tree;
  tree.file("a.swift", "let a = 1\n");
  tree.file("build/b.swift", "let b = 1\n");

  // With or without a trailing separator: the same keys, never "//".
  const Records plain = scan(tree);
  NativeString withSeparator = tree.native();
  withSeparator.push_back(kNativeSeparator);
  EXPECT_EQ(recordsOf(scanProject(withSeparator)), plain);
  EXPECT_EQ(plain.count(tree.key("a.swift")), 1u);

  // The root itself is never filtered, even when its name is ignored.
  const Records below = recordsOf(scanProject(tree.path("build").native()));
  EXPECT_EQ(below, (Records{{tree.key("build/b.swift"), LanguageId::Swift}}));

  // A root that is a file is that one file; a missing root is empty.
  EXPECT_EQ(recordsOf(scanProject(tree.path("a.swift").native())),
            (Records{{tree.key("a.swift"), LanguageId::Swift}}));
  EXPECT_TRUE(scanProject(tree.path("missing").native()).files.empty());
  EXPECT_TRUE(scanProject(tree.path("a.swift/inside").native()).files.empty());

  tree.dir("empty");
  EXPECT_TRUE(scanProject(tree.path("empty").native()).files.empty());
}

TEST(Walk, SameModelOnAnyNumberOfThreads) {
  TempTree tree;
  for (char d = '0'; d < '6'; ++d) {
    for (char s = '0'; s < '4'; ++s) {
      const std::string dir = std::string("d") + d + "/s" + s;
      tree.file(dir + "/a.c", "int a;\n");
      tree.file(dir + "/b.txt", "b\n");
      tree.file(dir + "/deeper/c.go", "package c\n");
    }
    tree.file(std::string("d") + d + "/top.rs", "fn f() {}\n");
  }
  auto order = [](const ProjectModel& model) {
    std::vector<std::string> keys;
    for (const auto& entry : model.files) keys.push_back(entry.first);
    return keys;
  };
  // The insertion order decides the map's own iteration order.
  const std::vector<std::string> single = order(scanProject(tree.native(), 1));
  EXPECT_EQ(single.size(), 6u * (4 * 3 + 1));
  for (int threads : {2, 3, 8}) {
    EXPECT_EQ(order(scanProject(tree.native(), threads)), single) << threads << " threads";
  }
}

TEST(Walk, RootBelowXcuserdataIsEmpty) {
  TempTree tree;
  tree.file("Proj.xcodeproj/xcuserdata/me/a.swift", "let a = 1\n");
  tree.file("Proj.xcodeproj/xcuserdata/me/sub/b.swift", "let b = 1\n");
  EXPECT_TRUE(scanProject(tree.path("Proj.xcodeproj/xcuserdata/me").native()).files.empty());
  // The folder itself as root: its own path has no trailing separator, but
  // every entry below it does.
  EXPECT_TRUE(scanProject(tree.path("Proj.xcodeproj/xcuserdata").native()).files.empty());
}

TEST(Walk, ExistingRecordsAreKept) {
  TempTree tree;
  tree.file("a.c", "int a;\n");
  ProjectFileMap files;
  ProjectFile& old = files[tree.key("a.c")];
  old.path = tree.key("a.c");
  old.language = LanguageId::Rust;
  old.heatRaw = 7.0;
  scanPath(tree.native(), files);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->second.language, LanguageId::Rust);
  EXPECT_EQ(files.begin()->second.heatRaw, 7.0);
}

TEST(Walk, DirectoryLinksAreFollowedAndEachDirectoryListedOnce) {
  TempTree tree;
  TempTree outside;
  tree.file("real/a.c", "int a;\n");
  tree.file("real/sub/b.c", "int b;\n");
  outside.file("x.c", "int x;\n");
  if (!makeDirectoryLink(outside.root(), tree.path("linked")) ||
      !makeDirectoryLink(outside.root(), tree.path("node_modules")) ||
      !makeDirectoryLink(tree.path("real"), tree.path("again"))) {
    GTEST_SKIP() << "this system cannot make directory links here";
  }
  // A directory inside keeps its own path; the link to it counts as empty.
  const Records expected = {
      {tree.key("linked/x.c"), LanguageId::C},
      {tree.key("real/a.c"), LanguageId::C},
      {tree.key("real/sub/b.c"), LanguageId::C},
  };
  EXPECT_EQ(scan(tree), expected);
}

TEST(Walk, LinkBackToAnAncestorCountsAsEmpty) {
  TempTree tree;
  tree.file("a/x.c", "int x;\n");
  tree.file("a/b/y.c", "int y;\n");
  if (!makeDirectoryLink(tree.root(), tree.path("a/b/up")) ||
      !makeDirectoryLink(tree.path("a"), tree.path("a/b/self"))) {
    GTEST_SKIP() << "this system cannot make directory links here";
  }
  const Records expected = {
      {tree.key("a/b/y.c"), LanguageId::C},
      {tree.key("a/x.c"), LanguageId::C},
  };
  EXPECT_EQ(scan(tree), expected);
}

#ifdef _WIN32
TEST(Walk, NameWithoutUtf8FormEndsTheScan) {
  TempTree tree;
  tree.file("a.c", "int a;\n");
  NativeString bad = tree.native() + L"\\x\xD800y.c";
  HANDLE h = CreateFileW(bad.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this file system refuses such names";
  CloseHandle(h);
  EXPECT_THROW(scanProject(tree.native()), WalkError);
  DeleteFileW(bad.c_str());
}
#else
TEST(Walk, FileLinksAndDanglingLinks) {
  TempTree tree;
  tree.file("data/real.py", "print(1)\n");
  std::filesystem::create_symlink(tree.path("data/real.py"), tree.path("alias.py"));
  std::filesystem::create_symlink(tree.path("nowhere"), tree.path("dangling.py"));
  std::filesystem::create_directory_symlink(tree.path("gone"), tree.path("dangling_dir"));
  const Records expected = {
      {tree.key("alias.py"), LanguageId::Python},
      {tree.key("data/real.py"), LanguageId::Python},
  };
  EXPECT_EQ(scan(tree), expected);
}

TEST(Walk, NamesThatAreNotUtf8KeepTheirBytes) {
  TempTree tree;
  const std::string name = "caf\xE9.c";  // Latin-1, not UTF-8
  tree.file(name, "int cafe;\n");
  const Records records = scan(tree);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.begin()->first, tree.native() + "/" + name);
}

TEST(Walk, CaseDistinctNamesAreDistinctRecords) {
  TempTree tree;
  tree.file("Foo.swift", "let a = 1\n");
  tree.file("foo.swift", "let b = 1\n");
  EXPECT_EQ(scan(tree).size(), 2u);
}

// The text test reads an entry that the listing saw as a file; should it be
// a FIFO by the time it is opened, the open must not wait for a writer.
TEST(Walk, TextProbeOfAFifoDoesNotBlock) {
  TempTree tree;
  ASSERT_EQ(::mkfifo(tree.path("pipe").c_str(), 0600), 0);
  DirectoryReader reader;
  ASSERT_TRUE(reader.open(tree.native()));
  DirEntry entry;
  ASSERT_TRUE(reader.next(entry));
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
  if (!done) ::close(::open(tree.path("pipe").c_str(), O_WRONLY | O_NONBLOCK));  // release it
  probe.join();
}

// Drops to an unprivileged user for the scope, because root reads anything.
class UnprivilegedScope {
 public:
  UnprivilegedScope() {
    if (::geteuid() == 0) active_ = ::seteuid(65534) == 0;
  }
  ~UnprivilegedScope() {
    if (active_ && ::seteuid(0) != 0) std::abort();
  }
  bool unprivileged() const { return ::geteuid() != 0; }

 private:
  bool active_ = false;
};

TEST(Walk, UnreadableDirectoryCountsAsEmpty) {
  TempTree tree;
  tree.file("open/a.c", "int a;\n");
  tree.file("locked/b.c", "int b;\n");
  tree.file("locked/deeper/c.c", "int c;\n");
  namespace fs = std::filesystem;
  const auto readable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec;
  for (const char* path : {"", "open", "open/a.c", "locked/deeper"}) {
    fs::permissions(tree.path(path), readable);
  }
  fs::permissions(tree.path("locked"), fs::perms::none);
  Records records;
  {
    UnprivilegedScope scope;
    if (!scope.unprivileged()) {
      fs::permissions(tree.path("locked"), fs::perms::owner_all);
      GTEST_SKIP() << "cannot drop root privileges, so no directory is unreadable";
    }
    records = scan(tree);
  }
  fs::permissions(tree.path("locked"), fs::perms::owner_all);
  EXPECT_EQ(records, (Records{{tree.key("open/a.c"), LanguageId::C}}));
}
#endif

}  // namespace
}  // namespace varnholt_app
