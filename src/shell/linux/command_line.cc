#include "shell/linux/command_line.h"

#include <filesystem>

namespace varnholt_app {

#ifndef VARNHOLT_VERSION
#define VARNHOLT_VERSION "unknown"
#endif

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  bool optionsEnded = false;
  auto fail = [&cl](std::string message) {
    cl.action = CommandLine::Action::Error;
    cl.error = std::move(message);
    return cl;
  };
  for (const std::string& arg : args) {
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "--help" || arg == "-h") {
        cl.action = CommandLine::Action::Help;
        return cl;
      } else if (arg == "--version") {
        cl.action = CommandLine::Action::Version;
        return cl;
      } else if (arg == "--trace") {
        cl.trace = true;
      } else {
        return fail("unknown option '" + arg + "'");
      }
    } else if (arg.empty()) {
      return fail("empty folder name");
    } else if (!cl.folder.empty()) {
      return fail("only one folder can be opened");
    } else {
      cl.folder = arg;
    }
  }
  return cl;
}

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

std::string versionText() { return std::string("varnholt ") + VARNHOLT_VERSION + "\n"; }

std::string absoluteFolder(const std::string& folder, const std::string& currentDir) {
  std::filesystem::path path(folder);
  if (path.is_relative()) path = std::filesystem::path(currentDir) / path;
  std::string out = path.lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

}  // namespace varnholt_app
