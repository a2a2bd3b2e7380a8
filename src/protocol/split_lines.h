#pragma once
// Stand-in for the analysis' line splitter until it is available; the audit
// must number lines exactly like the analysis. Remove when switching.

#include <string_view>
#include <vector>

namespace varnholt_app {

inline std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  if (text.empty()) return lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    size_t end = i;
    if (end > start && text[end - 1] == '\r') --end;
    lines.push_back(text.substr(start, end - start));
    start = i + 1;
  }
  size_t end = text.size();
  if (end > start) {
    if (text[end - 1] == '\r') --end;
    lines.push_back(text.substr(start, end - start));
  } else {
    lines.emplace_back();
  }
  return lines;
}

}  // namespace varnholt_app
