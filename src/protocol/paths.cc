#include "protocol/paths.h"

namespace varnholt_app {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

size_t rootNameLength(std::string_view p) {
  if (p.size() >= 2 && isAsciiLetter(p[0]) && p[1] == ':') return 2;
  if (p.size() >= 4 && isSeparator(p[3]) &&
      ((isSeparator(p[0]) && isSeparator(p[1]) && (p[2] == '?' || p[2] == '.')) ||
       (isSeparator(p[0]) && p[1] == '?' && p[2] == '?'))) {
    return 3;  // device prefix
  }
  if (p.size() >= 3 && isSeparator(p[0]) && isSeparator(p[1]) && !isSeparator(p[2])) {
    size_t end = 3;  // network prefix: the server name up to the next separator
    while (end < p.size() && !isSeparator(p[end])) ++end;
    return end;
  }
  return 0;
}

// Where the last component starts.
size_t lastComponentStart(std::string_view p, size_t rootName) {
  for (size_t i = p.size(); i > rootName; --i) {
    if (isSeparator(p[i - 1])) return i;
  }
  return rootName;
}

}  // namespace

std::string_view lastComponent(std::string_view path) {
  return path.substr(lastComponentStart(path, rootNameLength(path)));
}

std::string_view parentPath(std::string_view path) {
  const size_t rootName = rootNameLength(path);
  size_t rootEnd = rootName;
  while (rootEnd < path.size() && isSeparator(path[rootEnd])) ++rootEnd;
  size_t end = lastComponentStart(path, rootName);
  while (end > rootEnd && isSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

std::string_view folderDisplayName(std::string_view folder) {
  const size_t rootName = rootNameLength(folder);
  size_t end = folder.size();
  while (end > rootName + 1 && isSeparator(folder[end - 1])) --end;
  const std::string_view name = lastComponent(folder.substr(0, end));
  return name.empty() ? folder : name;
}

}  // namespace varnholt_app
