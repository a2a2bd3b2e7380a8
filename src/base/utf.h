#pragma once
// UTF-8 / UTF-16 conversion shared by the whole program.

#include <string>
#include <string_view>

namespace varnholt_app {

// Converts UTF-8 to UTF-16. Every maximal ill-formed subsequence becomes one
// U+FFFD, as the Unicode standard recommends; conversion never fails.
std::u16string utf8ToUtf16(std::string_view text);

// The character at `text[pos]` (pos < size): its length in bytes and its code
// point, or, for bytes that are not valid UTF-8, the length of the maximal
// ill-formed subsequence there and U+FFFD.
size_t decodeUtf8At(std::string_view text, size_t pos, char32_t& codePoint);

// True when every byte belongs to a well-formed character, so that the text
// comes back unchanged through UTF-16.
bool isValidUtf8(std::string_view text);

// Converts UTF-16 to UTF-8. Returns false (and leaves `out` unspecified) when
// the text holds an unpaired surrogate, which has no UTF-8 form.
bool utf16ToUtf8(std::u16string_view text, std::string& out);

// Like utf16ToUtf8, but an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8Lossy(std::u16string_view text);

}  // namespace varnholt_app
