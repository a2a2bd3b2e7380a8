#include "protocol/json.h"

#include <array>
#include <charconv>
#include <cmath>

#include "base/utf.h"

namespace varnholt_app {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Bytes that need an escape in a JSON string, and those that start a
// multi-byte sequence, which is checked.
constexpr std::array<bool, 256> kNeedsEscape = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<size_t>(c)] = true;
  for (int c = 0x80; c < 0x100; ++c) table[static_cast<size_t>(c)] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

// Value of each Base64 character, -1 for everything outside the alphabet.
constexpr std::array<int8_t, 256> kBase64Value = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
  }
  return table;
}();

}  // namespace

void appendJsonEscaped(std::string& out, std::string_view text) {
  const char* data = text.data();
  const size_t n = text.size();
  size_t runStart = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (!kNeedsEscape[c]) continue;
    if (c >= 0x80) {
      // Bytes that are not UTF-8 become U+FFFD here, as the page would see
      // them, so that the text is the same on every path it takes.
      char32_t codePoint = 0;
      const size_t length = decodeUtf8At(text, i, codePoint);
      if (codePoint == 0xFFFD && text.compare(i, length, "\xEF\xBF\xBD") != 0) {
        out.append(data + runStart, i - runStart);
        out.append("\xEF\xBF\xBD");
        runStart = i + length;
      }
      i += length - 1;
      continue;
    }
    out.append(data + runStart, i - runStart);
    runStart = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: {
        const char escape[6] = {'\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(data + runStart, n - runStart);
}

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  appendJsonEscaped(out, text);
  out += '"';
}

void appendShortest(std::string& out, double value) {
  if (!std::isfinite(value)) value = 0.0;
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void appendPercentEncoded(std::string& out, std::string_view bytes, bool (*plain)(unsigned char)) {
  static constexpr char kUpperHex[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (plain(byte)) {
      out += c;
    } else {
      const char escape[3] = {'%', kUpperHex[byte >> 4], kUpperHex[byte & 15]};
      out.append(escape, sizeof escape);
    }
  }
}

std::string jsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendJsonEscaped(out, text);
  return out;
}

void appendBase64(std::string& out, std::string_view bytes) {
  const size_t n = bytes.size();
  const size_t start = out.size();
  out.resize(start + (n + 2) / 3 * 4);
  char* dst = out.data() + start;
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8) | src[i + 2];
    *dst++ = kBase64Alphabet[(v >> 18) & 0x3F];
    *dst++ = kBase64Alphabet[(v >> 12) & 0x3F];
    *dst++ = kBase64Alphabet[(v >> 6) & 0x3F];
    *dst++ = kBase64Alphabet[v & 0x3F];
  }
  if (n - i == 1) {
    const uint32_t v = uint32_t{src[i]} << 16;
    *dst++ = kBase64Alphabet[(v >> 18) & 0x3F];
    *dst++ = kBase64Alphabet[(v >> 12) & 0x3F];
    *dst++ = '=';
    *dst++ = '=';
  } else if (n - i == 2) {
    const uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8);
    *dst++ = kBase64Alphabet[(v >> 18) & 0x3F];
    *dst++ = kBase64Alphabet[(v >> 12) & 0x3F];
    *dst++ = kBase64Alphabet[(v >> 6) & 0x3F];
    *dst++ = '=';
  }
}

std::string base64Encode(std::string_view bytes) {
  std::string out;
  appendBase64(out, bytes);
  return out;
}

std::string base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  uint32_t accumulator = 0;  // only the low bits matter; wrapping is fine
  int bits = -8;
  for (const char ch : text) {
    if (ch == '=') break;
    const int value = kBase64Value[static_cast<unsigned char>(ch)];
    if (value < 0) continue;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 0) {
      out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
      bits -= 8;
    }
  }
  return out;
}

std::u16string utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  return utf8ToUtf16(text);
}

std::string extractJsonString(std::string_view json, std::string_view key) {
  if (json.empty()) return {};
  std::string needle = "\"";
  needle.append(key).push_back('"');
  const size_t at = json.find(needle);
  if (at == std::string_view::npos) return {};
  size_t pos = json.find(':', at);
  if (pos == std::string_view::npos) return {};
  ++pos;
  while (pos < json.size() && (json[pos] == ' ' || json[pos] == '\t' || json[pos] == '\n' || json[pos] == '\r')) {
    ++pos;
  }
  if (pos >= json.size() || json[pos] != '"') return {};
  const size_t end = json.find('"', pos + 1);
  if (end == std::string_view::npos) return {};
  std::string value;
  value.reserve(end - pos - 1);
  for (size_t i = pos + 1; i < end;) {
    char32_t c = 0;
    i += decodeUtf8At(json, i, c);
    if (c >= 0x10000) {  // a surrogate pair in UTF-16
      c -= 0x10000;
      value.push_back(static_cast<char>((0xD800 + (c >> 10)) & 0x7F));
      c = 0xDC00 + (c & 0x3FF);
    }
    value.push_back(static_cast<char>(c & 0x7F));
  }
  return value;
}

void appendFixed(std::string& out, double value, int decimals) {
  if (!std::isfinite(value)) value = 0.0;
  if (decimals < 0) decimals = 0;
  if (decimals > 20) decimals = 20;
  // The largest double has 309 integer digits.
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  out.append(buffer, result.ptr);
}

std::string formatFixed(double value, int decimals) {
  std::string out;
  appendFixed(out, value, decimals);
  return out;
}

void appendInt(std::string& out, int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

}  // namespace varnholt_app
