#include "shell/linux/command_line.h"

#include <gtest/gtest.h>

namespace varnholt_app {
namespace {

using Action = CommandLine::Action;

TEST(ParseCommandLine, FolderAndTraceInAnyOrder) {
  CommandLine cl = parseCommandLine({});
  EXPECT_EQ(cl.action, Action::Run);
  EXPECT_FALSE(cl.trace);
  EXPECT_TRUE(cl.folder.empty());

  cl = parseCommandLine({"--trace", "src"});
  EXPECT_EQ(cl.action, Action::Run);
  EXPECT_TRUE(cl.trace);
  EXPECT_EQ(cl.folder, "src");

  cl = parseCommandLine({"src", "--trace"});
  EXPECT_TRUE(cl.trace);
  EXPECT_EQ(cl.folder, "src");

  // After "--" a name that looks like an option is a folder; "-" alone is one too.
  cl = parseCommandLine({"--", "--trace"});
  EXPECT_EQ(cl.action, Action::Run);
  EXPECT_FALSE(cl.trace);
  EXPECT_EQ(cl.folder, "--trace");
  EXPECT_EQ(parseCommandLine({"-"}).folder, "-");
}

TEST(ParseCommandLine, HelpAndVersionWin) {
  EXPECT_EQ(parseCommandLine({"--help"}).action, Action::Help);
  EXPECT_EQ(parseCommandLine({"src", "-h"}).action, Action::Help);
  EXPECT_EQ(parseCommandLine({"--version", "--bogus"}).action, Action::Version);
}

TEST(ParseCommandLine, AnythingElseIsAnError) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--Trace"}, {"--trace="}, {"-t"}, {"a", "b"}, {""}, {"--trace", "--display=:0"}}) {
    const CommandLine cl = parseCommandLine(args);
    EXPECT_EQ(cl.action, Action::Error) << args.back();
    EXPECT_FALSE(cl.error.empty());
  }
}

TEST(AbsoluteFolder, ResolvesAgainstTheCurrentDirectory) {
  EXPECT_EQ(absoluteFolder("src", "/home/u/proj"), "/home/u/proj/src");
  EXPECT_EQ(absoluteFolder("./src/../lib/", "/home/u/proj"), "/home/u/proj/lib");
  EXPECT_EQ(absoluteFolder(".", "/home/u/proj"), "/home/u/proj");
  EXPECT_EQ(absoluteFolder("/data//x///", "/home"), "/data/x");
  EXPECT_EQ(absoluteFolder("/", "/home"), "/");
  EXPECT_EQ(absoluteFolder("..", "/"), "/");
}

}  // namespace
}  // namespace varnholt_app
