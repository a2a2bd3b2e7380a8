#include "protocol/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

namespace varnholt_app {
namespace {

TEST(JsonEscape, EscapesQuotesBackslashesAndControlBytes) {
  EXPECT_EQ(jsonEscape(""), "");
  EXPECT_EQ(jsonEscape("say \"hi\" C:\\x/y"), "say \\\"hi\\\" C:\\\\x/y");
  EXPECT_EQ(jsonEscape("\t\n\r"), "\\t\\n\\r");
  EXPECT_EQ(jsonEscape("\x08\x0C"), "\\u0008\\u000c");
  EXPECT_EQ(jsonEscape("\x1B[0m"), "\\u001b[0m");
  EXPECT_EQ(jsonEscape(std::string("a\0b", 3)), "a\\u0000b");
  EXPECT_EQ(jsonEscape("\x1F"), "\\u001f");
}

TEST(JsonEscape, PassesUtf8AndReplacesWhatIsNot) {
  const std::string valid = "\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80";
  EXPECT_EQ(jsonEscape(valid), valid);
  EXPECT_EQ(jsonEscape("\x7F"), "\x7F");
  // One U+FFFD per maximal ill-formed run, as the conversion for the page.
  EXPECT_EQ(jsonEscape("\xFF\xC3\"\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD\\\"\xEF\xBF\xBD");
  EXPECT_EQ(jsonEscape(" ~"), " ~");
}

TEST(Base64, EncodesStandardVectors) {
  EXPECT_EQ(base64Encode(""), "");
  EXPECT_EQ(base64Encode("M"), "TQ==");
  EXPECT_EQ(base64Encode("Ma"), "TWE=");
  EXPECT_EQ(base64Encode("Man"), "TWFu");
  EXPECT_EQ(base64Encode("\xFB\xFF"), "+/8=");
  EXPECT_EQ(base64Encode(std::string(1, '\0')), "AA==");
}

TEST(Base64, RoundTripsEveryByteAtEveryLength) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(255 - i));
  for (size_t n = 0; n <= bytes.size(); n += 7) {
    const std::string part = bytes.substr(0, n);
    const std::string encoded = base64Encode(part);
    EXPECT_EQ(encoded.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(base64Decode(encoded), part) << n;
  }
}

TEST(Base64, DecodesLeniently) {
  EXPECT_EQ(base64Decode("TWFu"), "Man");
  EXPECT_EQ(base64Decode("TW\r\nFu"), "Man");
  EXPECT_EQ(base64Decode(" T W\tF u "), "Man");
  EXPECT_EQ(base64Decode("TQ"), "M");
  EXPECT_EQ(base64Decode("TWE"), "Ma");
  EXPECT_EQ(base64Decode("T"), "");
  EXPECT_EQ(base64Decode("=TWFu"), "");
  EXPECT_EQ(base64Decode("TQ==garbage"), "M");
  EXPECT_EQ(base64Decode("-_"), "");
  EXPECT_EQ(base64Decode("T\xC3\xA9WFu"), "Man");  // high bytes are skipped
  EXPECT_EQ(base64Decode(""), "");
}

TEST(Utf8ToWide, ReplacesIllFormedBytes) {
  EXPECT_EQ(utf8ToWide(""), u"");
  EXPECT_EQ(utf8ToWide("\xFF"), u"\uFFFD");
  EXPECT_EQ(utf8ToWide("a\xC2\xB7" "b"), u"a\u00B7b");
  EXPECT_EQ(utf8ToWide("ab\xE2\x82"), u"ab\uFFFD");  // a character cut at the end
}

TEST(ExtractJsonString, ReadsStringMembers) {
  EXPECT_EQ(extractJsonString(u"{\"type\":\"uiReady\"}", u"type"), "uiReady");
  EXPECT_EQ(extractJsonString(u"{\"type\" :  \"x\"}", u"type"), "x");
  EXPECT_EQ(extractJsonString(u"{\"type\":\r\n\t\"x\"}", u"type"), "x");
  EXPECT_EQ(extractJsonString(u"{\"type\":\"selectFile\",\"path_b64\":\"QQ==\"}", u"path_b64"),
            "QQ==");
  EXPECT_EQ(extractJsonString(u"{\"type\":\"\"}", u"type"), "");
}

TEST(ExtractJsonString, GivesEmptyForWhatItDoesNotUnderstand) {
  EXPECT_EQ(extractJsonString(u"{\"type\":5}", u"type"), "");
  EXPECT_EQ(extractJsonString(u"{\"kind\":\"x\"}", u"type"), "");
  EXPECT_EQ(extractJsonString(u"{\"type\":\"x}", u"type"), "");  // no closing quote
  EXPECT_EQ(extractJsonString(u"{\"type\"", u"type"), "");
  EXPECT_EQ(extractJsonString(u"{\"type\":", u"type"), "");
  EXPECT_EQ(extractJsonString(u"{\"type\":\u00A0\"x\"}", u"type"), "");  // only 4 blanks skip
  EXPECT_EQ(extractJsonString(u"", u"type"), "");
  EXPECT_EQ(extractJsonString(u"{\"type\":\"x\"}", nullptr), "");
  // Only the first occurrence counts.
  EXPECT_EQ(extractJsonString(u"{\"type\":null,\"x\":{\"type\":\"y\"}}", u"type"), "");
}

TEST(ExtractJsonString, IsATextSearchWithoutEscapes) {
  EXPECT_EQ(extractJsonString(u"{\"type\":\"a\\\"b\"}", u"type"), "a\\");
  // The key may be found as another member's value.
  EXPECT_EQ(extractJsonString(u"{\"kind\":\"type\",\"n\":5,\"type\":\"x\"}", u"type"), "");
  EXPECT_EQ(extractJsonString(u"{\"kind\":\"type\",\"n\":\"y\",\"type\":\"x\"}", u"type"), "y");
  // Every unit is cut to 7 bits.
  EXPECT_EQ(extractJsonString(u"{\"type\":\"\u00E9\u20AC\"}", u"type"), "\x69\x2C");
}

TEST(FormatFixed, WritesExactDecimals) {
  EXPECT_EQ(formatFixed(0.5, 4), "0.5000");
  EXPECT_EQ(formatFixed(1.0, 2), "1.00");
  EXPECT_EQ(formatFixed(12.3456, 2), "12.35");
  EXPECT_EQ(formatFixed(0.0, 2), "0.00");
  EXPECT_EQ(formatFixed(-2.5, 2), "-2.50");
  EXPECT_EQ(formatFixed(-0.001, 2), "-0.00");
  EXPECT_EQ(formatFixed(1e9, 2), "1000000000.00");
  EXPECT_EQ(formatFixed(123456789012.0, 4), "123456789012.0000");
  // Rounding of the exact binary value; exact halves go to even.
  EXPECT_EQ(formatFixed(2.675, 2), "2.67");
  EXPECT_EQ(formatFixed(0.125, 2), "0.12");
  EXPECT_EQ(formatFixed(0.375, 2), "0.38");
  EXPECT_EQ(formatFixed(0.09375, 4), "0.0938");
  EXPECT_EQ(formatFixed(0.30005, 4), "0.3000");
  EXPECT_EQ(formatFixed(0.10005, 4), "0.1001");
  EXPECT_EQ(formatFixed(0.99995, 4), "1.0000");
}

TEST(FormatFixed, KeepsNonFiniteValuesValidJson) {
  EXPECT_EQ(formatFixed(std::nan(""), 2), "0.00");
  EXPECT_EQ(formatFixed(HUGE_VAL, 4), "0.0000");
  EXPECT_EQ(formatFixed(-HUGE_VAL, 2), "0.00");
}

#ifndef _WIN32
// glibc's printf is exact, so it serves as the reference here.
TEST(FormatFixed, MatchesPrintfOnRandomValues) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> value(-2000.0, 2000.0);
  for (int i = 0; i < 20000; ++i) {
    const double v = i % 2 ? value(random) : std::round(value(random) * 1000.0) / 1000.0 + 0.005;
    for (int decimals : {2, 4}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
      ASSERT_EQ(formatFixed(v, decimals), expected) << v;
    }
  }
}
#endif

}  // namespace
}  // namespace varnholt_app
