#include "base/utf.h"

#include <cstdint>
#include <cstring>

namespace varnholt_app {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Bounds of the second byte of a sequence, by lead byte (Unicode table 3-7).
// The remaining continuation bytes are always 80..BF.
bool secondByteRange(unsigned char lead, unsigned char& lo, unsigned char& hi,
                     int& length) {
  lo = 0x80;
  hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3;
    lo = 0xA0;
  } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
    length = 3;
  } else if (lead == 0xED) {
    length = 3;
    hi = 0x9F;
  } else if (lead == 0xF0) {
    length = 4;
    lo = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else if (lead == 0xF4) {
    length = 4;
    hi = 0x8F;
  } else {
    return false;
  }
  return true;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool utf16ToUtf8Impl(std::u16string_view text, std::string& out, bool lossy) {
  out.clear();
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      char32_t low = text[i + 1];
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      if (!lossy) return false;
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, unit);
    }
  }
  return true;
}

}  // namespace

size_t decodeUtf8At(std::string_view text, size_t pos, char32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  unsigned char lo = 0;
  unsigned char hi = 0;
  int length = 0;
  codePoint = kReplacement;
  if (!secondByteRange(lead, lo, hi, length)) return 1;
  char32_t cp = lead & (length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u);
  const size_t n = text.size();
  size_t j = pos + 1;
  for (int k = 1; k < length; ++k, ++j) {
    // A stop here leaves the valid prefix [pos, j): one maximal subpart.
    if (j >= n) return j - pos;
    const auto byte = static_cast<unsigned char>(text[j]);
    const unsigned char low = k == 1 ? lo : 0x80;
    const unsigned char high = k == 1 ? hi : 0xBF;
    if (byte < low || byte > high) return j - pos;
    cp = (cp << 6) | (byte & 0x3Fu);
  }
  codePoint = cp;
  return j - pos;
}

bool isValidUtf8(std::string_view text) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Paths and names are mostly ASCII: eight bytes at a time.
    if (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t cp = 0;
    const size_t length = decodeUtf8At(text, i, cp);
    if (cp == kReplacement && !(length == 3 && text.substr(i, 3) == "\xEF\xBF\xBD")) return false;
    i += length;
  }
  return true;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char16_t>(lead));
      ++i;
      continue;
    }
    char32_t cp = 0;
    i += decodeUtf8At(text, i, cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

bool utf16ToUtf8(std::u16string_view text, std::string& out) {
  return utf16ToUtf8Impl(text, out, false);
}

std::string utf16ToUtf8Lossy(std::u16string_view text) {
  std::string out;
  utf16ToUtf8Impl(text, out, true);
  return out;
}

}  // namespace varnholt_app
