#include "base/utf.h"

#include <gtest/gtest.h>

#include "base/native_string.h"

namespace varnholt_app {
namespace {

TEST(Utf8ToUtf16, ConvertsWellFormedText) {
  EXPECT_EQ(utf8ToUtf16(""), u"");
  EXPECT_EQ(utf8ToUtf16("abc"), u"abc");
  EXPECT_EQ(utf8ToUtf16("\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(utf8ToUtf16("\xC2\xB7"), u"\u00B7");
  EXPECT_EQ(utf8ToUtf16("\xE2\x82\xAC"), u"\u20AC");
  EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x94\xA5"), u"\U0001F525");
  EXPECT_EQ(utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8ToUtf16, ReplacesEachMaximalIllFormedSubpartOnce) {
  EXPECT_EQ(utf8ToUtf16("\xFF"), u"\uFFFD");
  EXPECT_EQ(utf8ToUtf16("\x80\x80"), u"\uFFFD\uFFFD");
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");          // overlong lead
  EXPECT_EQ(utf8ToUtf16("\xE2\x82"), u"\uFFFD");                // cut at the end
  EXPECT_EQ(utf8ToUtf16("\xE2\x82x"), u"\uFFFDx");              // cut mid-text
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
  EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x94"), u"\uFFFD");
  EXPECT_EQ(utf8ToUtf16("a\xC3"), u"a\uFFFD");
}

TEST(Utf16ToUtf8, RoundTripsAndRejectsLoneSurrogates) {
  std::string out;
  ASSERT_TRUE(utf16ToUtf8(u"a\u00E9\u20AC\U0001F525", out));
  EXPECT_EQ(out, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\xA5");
  EXPECT_FALSE(utf16ToUtf8(std::u16string(1, char16_t(0xD800)), out));
  EXPECT_FALSE(utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"x", out));
  EXPECT_EQ(utf16ToUtf8Lossy(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

TEST(NativeString, Utf8RoundTrip) {
  const std::string path = "dir/\xC3\xA9t\xC3\xA9.c";
  std::string back;
  ASSERT_TRUE(nativeToUtf8(utf8ToNative(path), back));
  EXPECT_EQ(back, path);
}

}  // namespace
}  // namespace varnholt_app
