#include "shell/linux/web_bridge.h"

#include <gtest/gtest.h>

#include <string>

namespace varnholt_app {
namespace {

const std::string kLineSep = "\xE2\x80\xA8";
const std::string kParaSep = "\xE2\x80\xA9";

TEST(WebBridge, DeliveryEscapesOnlyTheTwoLineSeparators) {
  EXPECT_EQ(buildDeliveryScript(""), "");
  const std::string json = "{\"a\":\"" + kLineSep + "x" + kParaSep + kParaSep + "\"}";
  EXPECT_EQ(buildDeliveryScript(json), R"(window.__varnholtDeliver({"a":"\u2028x\u2029\u2029"});)");
  // Neighbours of the separators, and sequences cut short, stay as they are.
  const std::string others = "{\"a\":\"\xE2\x80\xA7\xE2\x80\xAA\xE2\x82\xAC\xE2\x80\"}\"\xE2\x80";
  EXPECT_EQ(buildDeliveryScript(others), "window.__varnholtDeliver(" + others + ");");
}

}  // namespace
}  // namespace varnholt_app
