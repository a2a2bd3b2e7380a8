#include "project/scan_rules.h"

#include <array>

namespace varnholt_app {

bool isIgnoredDirectoryName(std::string_view name) {
  static constexpr std::array<std::string_view, 12> kNames = {
      ".git",  "node_modules", "DerivedData", "build",       "dist",  "Pods",
      ".swiftpm", ".build",    ".xcuserdata", "xcuserdata", ".idea", ".vscode"};
  for (std::string_view ignored : kNames) {
    if (name == ignored) return true;
  }
  return false;
}

}  // namespace varnholt_app
