#include "base/utf.h"

#include <gtest/gtest.h>

#include "base/native_string.h"

namespace varnholt_app {
namespace {

TEST(Utf, EachMaximalIllFormedSubpartBecomesOneReplacement) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\xA5", u"a\u00E9\u20AC\U0001F525"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\x80\x80", u"\uFFFD\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                // overlong lead
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},      // overlong three-byte form
      {"\xE2\x82x", u"\uFFFDx"},                    // cut mid-text
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},      // surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"a\xF0\x9F\x94", u"a\uFFFD"},                // cut at the end
  };
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(utf8ToUtf16(utf8), utf16);
    // Valid exactly when the text survives the trip through UTF-16, also
    // behind a run of ASCII read eight bytes at a time.
    for (const std::string& text : {utf8, "abcdefghi" + utf8, utf8 + "\xEF\xBF\xBD"}) {
      EXPECT_EQ(isValidUtf8(text), utf16ToUtf8Lossy(utf8ToUtf16(text)) == text) << text;
    }
  }

  std::string out;
  ASSERT_TRUE(utf16ToUtf8(cases[0].second, out));
  EXPECT_EQ(out, cases[0].first);
  EXPECT_FALSE(utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"x", out));
  EXPECT_EQ(utf16ToUtf8Lossy(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  ASSERT_TRUE(nativeToUtf8(utf8ToNative(cases[0].first), out));
  EXPECT_EQ(out, cases[0].first);
}

}  // namespace
}  // namespace varnholt_app
