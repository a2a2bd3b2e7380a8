#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../project/temp_tree.h"
#include "base/absolute_folder.h"

namespace varnholt_app {
namespace {

using Action = CommandLine::Action;

CommandLine parse(std::initializer_list<const char*> words) {
  std::vector<NativeString> args;
  for (const char* word : words) args.push_back(asciiToNative(word));
  return parseCommandLine(args);
}

TEST(CommandLine, FolderAndTraceInAnyOrder) {
  CommandLine cl = parse({});
  EXPECT_EQ(cl.action, Action::Run);
  EXPECT_FALSE(cl.trace);
  EXPECT_TRUE(cl.folder.empty());

  for (const CommandLine& both : {parse({"--trace", "src"}), parse({"src", "--trace"})}) {
    EXPECT_EQ(both.action, Action::Run);
    EXPECT_TRUE(both.trace);
    EXPECT_EQ(both.folder, asciiToNative("src"));
  }
  // After "--" a name that looks like an option is a folder; "-" alone is one too.
  cl = parse({"--", "--trace"});
  EXPECT_FALSE(cl.trace);
  EXPECT_EQ(cl.folder, asciiToNative("--trace"));
  EXPECT_EQ(parse({"-"}).folder, asciiToNative("-"));
}

TEST(CommandLine, HelpAndVersionWinAndExitWithZero) {
  for (const CommandLine& help : {parse({"--help"}), parse({"src", "-h", "--bogus"})}) {
    EXPECT_EQ(help.action, Action::Help);
    EXPECT_EQ(help.text.rfind("Usage: varnholt [--trace] [FOLDER]\n", 0), 0u);
    EXPECT_EQ(commandLineExitCode(help), 0);
  }
  const CommandLine version = parse({"--version", "--bogus"});
  EXPECT_EQ(version.action, Action::Version);
  EXPECT_EQ(version.text.rfind("varnholt ", 0), 0u);
  EXPECT_EQ(version.text.back(), '\n');
}

TEST(CommandLine, AnythingElseIsAUsageError) {
  EXPECT_EQ(parse({"--trace", "--Trace"}).text.substr(0, 44),
            "varnholt: unknown option '--Trace'\nUsage: va");
  EXPECT_EQ(parse({"a", "b"}).text.rfind("varnholt: only one folder can be opened\nUsage:", 0), 0u);
  for (const CommandLine& cl : {parse({"--trace="}), parse({"-t"}), parse({""}), parse({"a", "--display=:0"})}) {
    EXPECT_EQ(cl.action, Action::Error);
    EXPECT_EQ(cl.text.rfind("varnholt: ", 0), 0u);
    EXPECT_NE(cl.text.find("\nUsage: varnholt"), std::string::npos);
    EXPECT_EQ(commandLineExitCode(cl), 2);
  }
}

TEST(CommandLine, FolderBecomesAbsoluteOrAnErrorWhenItIsNone) {
  testing::TempTree tree;
  tree.dir("proj");
  tree.file("notes.txt", "x");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(tree.root());
  CommandLine folder = parse({"proj/"});
  CommandLine file = parse({"notes.txt"});
  CommandLine missing = parse({"--trace", "gone"});
  for (CommandLine* cl : {&folder, &file, &missing}) checkFolder(*cl);
  std::filesystem::current_path(previous);

  EXPECT_EQ(folder.action, Action::Run);
  EXPECT_EQ(folder.folder, absoluteFolder(tree.path("proj").native()));
  EXPECT_EQ(file.text, "varnholt: 'notes.txt' is not a folder\n");
  EXPECT_EQ(commandLineExitCode(file), 2);
  EXPECT_EQ(missing.action, Action::Error);
}

}  // namespace
}  // namespace varnholt_app
