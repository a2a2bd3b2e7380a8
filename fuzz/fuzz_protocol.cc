// Invariants of the protocol helpers on arbitrary input: Base64 round trips,
// escaped text unescapes to the original (ill-formed UTF-8 replaced) and
// holds no control byte, and the
// member search never reads past the message nor returns non-ASCII.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/utf.h"
#include "protocol/json.h"

namespace {

using namespace varnholt_app;

void check(bool condition) {
  if (!condition) std::abort();
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The inverse of jsonEscape, strict about the escapes it may produce.
std::string unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    check(i + 1 < text.size());
    const char c = text[++i];
    if (c == '"' || c == '\\') {
      out += c;
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 'r') {
      out += '\r';
    } else {
      check(c == 'u' && i + 4 < text.size() && text.substr(i + 1, 2) == "00");
      const int high = hexValue(text[i + 3]);
      const int low = hexValue(text[i + 4]);
      check(high >= 0 && low >= 0);
      const int value = high * 16 + low;
      check(value < 0x20 && value != '\t' && value != '\n' && value != '\r');
      out += static_cast<char>(value);
      i += 4;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string encoded = base64Encode(bytes);
  check(encoded.size() == (size + 2) / 3 * 4);
  check(base64Decode(encoded) == bytes);
  check(base64Decode(bytes).size() <= size * 3 / 4);

  const std::string escaped = jsonEscape(bytes);
  for (const char c : escaped) check(static_cast<unsigned char>(c) >= 0x20);
  // Valid UTF-8 comes back unchanged, the rest replaced as the page sees it.
  check(unescape(escaped) == utf16ToUtf8Lossy(utf8ToUtf16(bytes)));

  // The input as UTF-16 units.
  std::u16string message(size / 2, u'\0');
  for (size_t i = 0; i < message.size(); ++i) {
    message[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  const std::string value = extractJsonString(message, u"type");
  check(value.size() <= message.size());
  for (const char c : value) check(static_cast<unsigned char>(c) < 0x80 && c != '"');

  // A well-formed member without quotes in its value comes back whole.
  std::string plain;
  for (const char c : bytes) {
    const char ascii = static_cast<char>(c & 0x7F);
    if (ascii != '"') plain += ascii;
  }
  std::u16string member = u"{\"type\" :\t\"";
  member.append(plain.begin(), plain.end());
  member += u"\"}";
  check(extractJsonString(member, u"type") == plain);
  return 0;
}
