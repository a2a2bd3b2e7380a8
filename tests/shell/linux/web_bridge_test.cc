#include "shell/linux/web_bridge.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "../../project/temp_tree.h"

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

// The bridge as a page uses it, in node with a stand-in for WebKit's handlers.
TEST(WebBridge, BehavesLikeChromeWebview) {
  if (std::system("command -v node >/dev/null 2>&1") != 0) GTEST_SKIP() << "node is not installed";
  const std::string message = "{\"type\":\"setCode\",\"text\":\"a" + kLineSep + "b" + kParaSep +
                              "c \\\"q\\\" \\\\ </script>\",\"n\":[1,2.5,null]}";
  const std::string script = R"JS(
var sent = [], got = [], types = [];
globalThis.window = globalThis;
window.webkit = { messageHandlers: {
  varnholtMessage: { postMessage: function (s) { sent.push(['m', s]); } },
  varnholtReady: { postMessage: function (s) { sent.push(['r', s]); } } } };
)JS" + std::string(bridgeScript()) + std::string(bridgeScript()) /* injected twice: the first stays */ + R"JS(
var listener = function (e) { got.push(['l', e.data]); types.push(e.type); };
window.chrome.webview.addEventListener('message', listener);
window.chrome.webview.addEventListener('message', { handleEvent: function (e) { got.push(['h', e.data]); } });
)JS" + buildDeliveryScript(message) + "window.chrome.webview.removeEventListener('message', listener);" +
                             buildDeliveryScript("7") + R"JS(
window.chrome.webview.postMessage({ type: 'selectFile', path_b64: 'YQ==' });
window.chrome.webview.postMessage('text');
window.chrome.webview.postMessage(undefined);
var first = { type: 'setCode', text: 'a\u2028b\u2029c "q" \\ </script>', n: [1, 2.5, null] };
var expected = [['l', first], ['h', first], ['h', 7]];
console.log(JSON.stringify({ sent: sent, same: JSON.stringify(got) === JSON.stringify(expected), types: types }));
)JS";
  testing::TempTree tree;
  tree.file("bridge.js", script);
  FILE* pipe = ::popen(("node " + tree.key("bridge.js") + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0) << output;
  EXPECT_EQ(output,
            R"({"sent":[["r",""],["m","{\"type\":\"selectFile\",\"path_b64\":\"YQ==\"}"],["m","\"text\""],)"
            R"(["m","null"]],"same":true,"types":["message"]})"
            "\n");
}

}  // namespace
}  // namespace varnholt_app
