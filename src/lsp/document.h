#pragma once
// An open editor buffer: UTF-8 text addressed by the protocol's positions
// (line, UTF-16 code unit), and the file URIs that name buffers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnholt_app {

struct TextPosition {
  int64_t line = 0;
  int64_t character = 0;  // UTF-16 code units
};

class TextDocument {
 public:
  explicit TextDocument(std::string text = {}) { setText(std::move(text)); }
  void setText(std::string text);
  const std::string& text() const { return text_; }
  size_t lineCount() const { return lineStarts_.size(); }
  // A line's bytes without its line break.
  std::string_view line(size_t index) const;
  // Byte offset of a position. Positions past a line's end clamp to it and
  // lines past the end clamp to the text's end, as the protocol asks.
  size_t offsetOf(TextPosition position) const;
  // Replaces [start, end) (swapped if reversed) by `text`.
  void replace(TextPosition start, TextPosition end, std::string_view text);

 private:
  std::string text_;
  std::vector<size_t> lineStarts_;
};

// UTF-16 code units of a UTF-8 line (ill-formed bytes count one unit each
// maximal subsequence, as U+FFFD).
int64_t utf16Length(std::string_view line);

// "file:///a%20b/c.cc" to "/a b/c.cc" (on Windows "file:///C:/x" to
// "C:\x"); nothing for another scheme or a bad escape.
std::optional<std::string> pathFromFileUri(std::string_view uri);
std::string fileUriFromPath(std::string_view path);

}  // namespace varnholt_app
