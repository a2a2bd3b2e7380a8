#pragma once
// JSON-RPC framing of the language server protocol: header lines, a blank
// line, then exactly Content-Length bytes of body.

#include <cstddef>
#include <string>
#include <string_view>

namespace varnholt_app {

// A body larger than this is refused (its header block is dropped and the
// bytes are skipped), so a bogus length cannot make us buffer gigabytes.
inline constexpr size_t kMaxFrameBytes = 64u << 20;

class FrameReader {
 public:
  enum class Result { NeedMore, Frame, BadHeader };

  void append(std::string_view bytes) { buffer_.append(bytes); }
  // Takes the next complete frame out of the buffer into `body`. BadHeader
  // drops one header block that has no usable Content-Length (`body` then
  // holds the reason) and the reader goes on after it.
  Result next(std::string& body);
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  size_t start_ = 0;
  size_t skip_ = 0;  // body bytes of a refused frame still to be dropped
};

// Header and body of one outbound message.
std::string frameMessage(std::string_view body);

}  // namespace varnholt_app
