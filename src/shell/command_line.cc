#include "shell/command_line.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/absolute_folder.h"

namespace varnholt_app {

#ifndef VARNHOLT_VERSION
#define VARNHOLT_VERSION "unknown"
#endif

namespace {

std::string usageText() {
  return "Usage: varnholt [--trace] [FOLDER]\n"
         "Shows where the source code in FOLDER is hot: files ranked by heat,\n"
         "each line coloured by its heat, and the hottest lines of the project.\n"
         "Without FOLDER, choose one in the window.\n"
         "\n"
         "  --trace    write every message between window and page to stderr\n"
         "  --help     show this text\n"
         "  --version  show the version\n";
}

bool is(const NativeString& arg, std::string_view word) {
  return arg.size() == word.size() &&
         std::equal(word.begin(), word.end(), arg.begin(),
                    [](char a, NativeChar b) { return static_cast<NativeChar>(a) == b; });
}

CommandLine withText(CommandLine commandLine, CommandLine::Action action, std::string text) {
  commandLine.action = action;
  commandLine.text = std::move(text);
  return commandLine;
}

CommandLine usageError(CommandLine commandLine, const std::string& problem) {
  return withText(std::move(commandLine), CommandLine::Action::Error,
                  "varnholt: " + problem + "\n" + usageText());
}

}  // namespace

CommandLine parseCommandLine(const std::vector<NativeString>& args) {
  using Action = CommandLine::Action;
  CommandLine cl;
  bool optionsEnded = false;
  for (const NativeString& arg : args) {
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (is(arg, "--")) {
        optionsEnded = true;
      } else if (is(arg, "--help") || is(arg, "-h")) {
        return withText(cl, Action::Help, usageText());
      } else if (is(arg, "--version")) {
        return withText(cl, Action::Version, "varnholt " VARNHOLT_VERSION "\n");
      } else if (is(arg, "--trace")) {
        cl.trace = true;
      } else {
        return usageError(cl, "unknown option '" + nativeToUtf8Lossy(arg) + "'");
      }
    } else if (arg.empty()) {
      return usageError(cl, "empty folder name");
    } else if (!cl.folder.empty()) {
      return usageError(cl, "only one folder can be opened");
    } else {
      cl.folder = arg;
    }
  }
  return cl;
}

void checkFolder(CommandLine& commandLine) {
  if (commandLine.action != CommandLine::Action::Run || commandLine.folder.empty()) return;
  const NativeString folder = absoluteFolder(commandLine.folder);
  std::error_code error;
  if (!std::filesystem::is_directory(std::filesystem::path(folder), error)) {
    commandLine = withText(commandLine, CommandLine::Action::Error,
                           "varnholt: '" + nativeToUtf8Lossy(commandLine.folder) +
                               "' is not a folder\n");
    return;
  }
  commandLine.folder = folder;
}

int commandLineExitCode(const CommandLine& commandLine) {
  return commandLine.action == CommandLine::Action::Error ? 2 : 0;
}

}  // namespace varnholt_app
