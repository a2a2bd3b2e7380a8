#pragma once
// Windows' wide strings and the portable UTF-16 strings hold the same code
// units; these copy between the two without aliasing tricks.

#include <string>
#include <string_view>

namespace varnholt_app {

inline std::wstring toWide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

inline std::u16string toU16(std::wstring_view text) {
  std::u16string out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char16_t>(text[i]);
  return out;
}

}  // namespace varnholt_app
