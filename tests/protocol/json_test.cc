#include "protocol/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <random>
#include <tuple>

namespace varnholt_app {
namespace {

TEST(JsonEscape, QuotesBackslashesAndEveryControlByte) {
  EXPECT_EQ(jsonEscape("say \"hi\" C:\\x/y\t\n\r"), "say \\\"hi\\\" C:\\\\x/y\\t\\n\\r");
  EXPECT_EQ(jsonEscape(std::string("\x08\x0C\x1B\x1F\0", 5)), "\\u0008\\u000c\\u001b\\u001f\\u0000");
}

TEST(JsonEscape, PassesUtf8AndReplacesWhatIsNot) {
  const std::string valid = " ~\x7F\xC3\xA9\xEF\xBF\xBD\xF0\x9F\x98\x80";
  EXPECT_EQ(jsonEscape(valid), valid);
  // One U+FFFD per maximal ill-formed run, as the conversion for the page.
  EXPECT_EQ(jsonEscape("\xFF\xC3\"\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD\\\"\xEF\xBF\xBD");
}

TEST(Base64, EncodesRoundTripsAndDecodesLeniently) {
  EXPECT_EQ(base64Encode("M") + base64Encode("Ma") + base64Encode("Man"), "TQ==TWE=TWFu");
  EXPECT_EQ(base64Encode("\xFB\xFF"), "+/8=");
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(255 - i));
  for (size_t n = 0; n <= bytes.size(); n += 7) {
    const std::string encoded = base64Encode(bytes.substr(0, n));
    EXPECT_EQ(encoded.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(base64Decode(encoded), bytes.substr(0, n)) << n;
  }
  const std::pair<const char*, const char*> lenient[] = {
      {"TW\r\nFu", "Man"}, {" T W\tF u ", "Man"}, {"TWE", "Ma"}, {"T", ""}, {"=TWFu", ""},
      {"TQ==garbage", "M"}, {"-_", ""}, {"T\xC3\xA9WFu", "Man"}};
  for (const auto& [text, decoded] : lenient) EXPECT_EQ(base64Decode(text), decoded) << text;
}

TEST(ExtractJsonString, TextSearchForTheFirstStringMember) {
  using namespace std::string_view_literals;
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"{\"type\":\"uiReady\"}", "uiReady"},
      {"{\"type\":\r\n\t \"x\"}", "x"},
      {"{\"type\":\"\"}", ""},
      {"{\"type\":5}", ""},
      {"{\"kind\":\"x\"}", ""},
      {"{\"type\":\"x}", ""},  // no closing quote
      {"{\"type\":", ""},
      {"{\"type\":\xC2\xA0\"x\"}", ""},  // only four blanks are skipped
      {"{\"type\":null,\"x\":{\"type\":\"y\"}}", ""},
      {"{\"type\":\"a\\\"b\"}", "a\\"},  // no escapes
      {"{\"kind\":\"type\",\"n\":\"y\",\"type\":\"x\"}", "y"},
      // Every UTF-16 unit cut to 7 bits: U+00E9, U+20AC; U+1F600 is the
      // surrogates D83D DE00; ill-formed bytes are U+FFFD each.
      {"{\"type\":\"\xC3\xA9\xE2\x82\xAC\"}", "\x69\x2C"},
      {"{\"type\":\"a\xF0\x9F\x98\x80z\"}", "a\x3D\x00z"sv},
      {"{\"type\":\"\xFF(\xED\xA0\x80\"}", "\x7D(\x7D\x7D\x7D"},
  };
  for (const auto& [json, value] : cases) EXPECT_EQ(extractJsonString(json, "type"), value) << json;
  EXPECT_EQ(utf8ToWide("ab\xE2\x82\xFF"), u"ab\uFFFD\uFFFD");
}

TEST(FormatFixed, ExactDecimalsAndValidJson) {
  const std::tuple<double, int, const char*> cases[] = {
      {-0.001, 2, "-0.00"}, {123456789012.0, 4, "123456789012.0000"},
      {2.675, 2, "2.67"},   {0.125, 2, "0.12"},  // the exact binary value; halves to even
      {0.375, 2, "0.38"},   {0.10005, 4, "0.1001"}, {0.99995, 4, "1.0000"},
      {std::nan(""), 2, "0.00"}, {HUGE_VAL, 4, "0.0000"}, {-HUGE_VAL, 2, "0.00"}};
  for (const auto& [value, decimals, text] : cases) EXPECT_EQ(formatFixed(value, decimals), text) << value;
#ifndef _WIN32
  // glibc's printf is exact, so it serves as the reference.
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
#endif
}

// Numbers read back exactly, and a report never holds "nan" or "inf".
TEST(ShortestAndPercent, RoundTripAndOnlyTheBytesAsked) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 10000; ++i) {
    const double v = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 60);
    std::string text;
    appendShortest(text, v);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
  }
  std::string out;
  for (const double odd : {double{NAN}, double{INFINITY}, -double{INFINITY}, -0.5}) appendShortest(out, odd);
  EXPECT_EQ(out, "000-0.5");
  out.clear();
  appendPercentEncoded(out, std::string("a b%\xff\0/", 7), [](unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; });
  EXPECT_EQ(out, "a%20b%25%FF%00/");
}

}  // namespace
}  // namespace varnholt_app
