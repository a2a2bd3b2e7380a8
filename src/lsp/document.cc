#include "lsp/document.h"

#include <algorithm>

#include "base/utf.h"

namespace varnholt_app {

void TextDocument::setText(std::string text) {
  text_ = std::move(text);
  lineStarts_.assign(1, 0);
  for (size_t i = text_.find('\n'); i != std::string::npos; i = text_.find('\n', i + 1)) {
    lineStarts_.push_back(i + 1);
  }
}

std::string_view TextDocument::line(size_t index) const {
  if (index >= lineStarts_.size()) return {};
  const size_t start = lineStarts_[index];
  size_t end = index + 1 < lineStarts_.size() ? lineStarts_[index + 1] - 1 : text_.size();
  if (end > start && text_[end - 1] == '\r') --end;
  return std::string_view(text_).substr(start, end - start);
}

size_t TextDocument::offsetOf(TextPosition position) const {
  if (position.line < 0) return 0;
  if (static_cast<uint64_t>(position.line) >= lineStarts_.size()) return text_.size();
  const auto index = static_cast<size_t>(position.line);
  const std::string_view text = line(index);
  size_t pos = 0;
  int64_t units = 0;
  while (pos < text.size() && units < position.character) {
    char32_t codePoint = 0;
    const size_t length = decodeUtf8At(text, pos, codePoint);
    const int64_t width = codePoint >= 0x10000 ? 2 : 1;
    if (units + width > position.character) break;  // inside a surrogate pair: stay before it
    units += width;
    pos += length;
  }
  return lineStarts_[index] + pos;
}

void TextDocument::replace(TextPosition start, TextPosition end, std::string_view text) {
  size_t a = offsetOf(start);
  size_t b = offsetOf(end);
  if (a > b) std::swap(a, b);
  text_.replace(a, b - a, text);
  // Keystrokes on a large buffer: move the line starts, do not recount them.
  const auto first = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), a);
  const auto last = std::upper_bound(first, lineStarts_.end(), b);
  std::vector<size_t> added;
  for (size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
    added.push_back(a + i + 1);
  }
  const auto shifted = lineStarts_.erase(first, last);
  for (auto it = shifted; it != lineStarts_.end(); ++it) *it = *it - (b - a) + text.size();
  lineStarts_.insert(shifted, added.begin(), added.end());
}

int64_t utf16Length(std::string_view line) {
  int64_t units = 0;
  for (size_t pos = 0; pos < line.size();) {
    char32_t codePoint = 0;
    pos += decodeUtf8At(line, pos, codePoint);
    units += codePoint >= 0x10000 ? 2 : 1;
  }
  return units;
}

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> pathFromFileUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.size() < kScheme.size() ||
      !std::equal(kScheme.begin(), kScheme.end(), uri.begin(),
                  [](char a, char b) { return a == (b | 0x20) || a == b; })) {
    return std::nullopt;
  }
  uri.remove_prefix(kScheme.size());
  // Only local files: an authority other than empty or localhost names another machine.
  const size_t slash = uri.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view authority = uri.substr(0, slash);
  if (!authority.empty() && authority != "localhost") return std::nullopt;
  uri.remove_prefix(slash);
  std::string path;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '?' || uri[i] == '#') break;
    if (uri[i] != '%') {
      path += uri[i];
      continue;
    }
    const int hi = i + 2 < uri.size() ? hexValue(uri[i + 1]) : -1;
    const int lo = hi >= 0 ? hexValue(uri[i + 2]) : -1;
    if (lo < 0) return std::nullopt;
    path += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (path.find('\0') != std::string::npos || !isValidUtf8(path)) return std::nullopt;
#ifdef _WIN32
  // "/C:/x" names "C:\x".
  if (path.size() >= 3 && path[0] == '/' && path[2] == ':') path.erase(0, 1);
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

std::string fileUriFromPath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':') out += '/';
#endif
  for (char c : path) {
    const auto u = static_cast<unsigned char>(c);
#ifdef _WIN32
    if (c == '\\') c = '/';
#endif
    const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                       c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

}  // namespace varnholt_app
