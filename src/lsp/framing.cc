#include "lsp/framing.h"

#include <algorithm>
#include <cctype>

namespace varnholt_app {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// -1 when the header holds no valid length.
int64_t contentLength(std::string_view headers) {
  int64_t length = -1;
  while (!headers.empty()) {
    const size_t eol = headers.find('\n');
    std::string_view line = headers.substr(0, eol);
    headers = eol == std::string_view::npos ? std::string_view() : headers.substr(eol + 1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (!equalsIgnoringCase(trim(line.substr(0, colon)), "content-length")) continue;
    const std::string_view value = trim(line.substr(colon + 1));
    if (value.empty() || value.size() > 12) return -1;
    int64_t n = 0;
    for (char c : value) {
      if (c < '0' || c > '9') return -1;
      n = n * 10 + (c - '0');
    }
    length = n;
  }
  return length;
}

}  // namespace

FrameReader::Result FrameReader::next(std::string& body) {
  if (skip_ > 0) {
    const size_t drop = std::min(skip_, buffer_.size() - start_);
    start_ += drop;
    skip_ -= drop;
    if (skip_ > 0) {
      buffer_.clear();
      start_ = 0;
      return Result::NeedMore;
    }
  }
  // Compact now and then so the buffer does not grow with the session.
  if (start_ > 0 && (start_ == buffer_.size() || start_ > (1u << 16))) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  const std::string_view view = std::string_view(buffer_).substr(start_);
  // Headers end at an empty line; clients send CRLF, a bare LF is taken too.
  size_t end = std::string_view::npos, bodyStart = 0;
  for (size_t i = view.find('\n'); i != std::string_view::npos; i = view.find('\n', i + 1)) {
    if (i + 1 < view.size() && view[i + 1] == '\n') {
      end = i;
      bodyStart = i + 2;
      break;
    }
    if (i + 2 < view.size() && view[i + 1] == '\r' && view[i + 2] == '\n') {
      end = i;
      bodyStart = i + 3;
      break;
    }
  }
  if (end == std::string_view::npos) {
    if (view.size() > 8192) {  // no header block is that long
      body = "header without an end";
      buffer_.clear();
      start_ = 0;
      return Result::BadHeader;
    }
    return Result::NeedMore;
  }
  const int64_t length = contentLength(view.substr(0, end));
  if (length < 0) {
    // Garbage: go on at the next header that looks like one, which may
    // follow right behind the garbage without an empty line.
    body = "header without a valid Content-Length";
    const size_t resume = view.find("Content-Length:", 1);
    start_ = resume == std::string_view::npos ? buffer_.size() : start_ + resume;
    return Result::BadHeader;
  }
  if (static_cast<uint64_t>(length) > kMaxFrameBytes) {
    body = "frame too large";
    start_ += bodyStart;
    skip_ = static_cast<size_t>(length);
    return Result::BadHeader;
  }
  const auto size = static_cast<size_t>(length);
  if (view.size() - bodyStart < size) return Result::NeedMore;
  body.assign(view.substr(bodyStart, size));
  start_ += bodyStart + size;
  return Result::Frame;
}

std::string frameMessage(std::string_view body) {
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

}  // namespace varnholt_app
