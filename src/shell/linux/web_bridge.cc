#include "shell/linux/web_bridge.h"

namespace varnholt_app {

namespace {

// postMessage(value) sends JSON.stringify(value), which is what WebView2's
// get_WebMessageAsJson yields. Listeners get a MessageEvent with the parsed
// value in `data`. The deliver function is a read-only property so that the
// page cannot replace it by accident.
constexpr std::string_view kBridgeScript = R"JS((function () {
  'use strict';
  var handlers = window.webkit && window.webkit.messageHandlers;
  if (!handlers || !handlers.varnholtMessage || window.__varnholtDeliver) return;
  var channel = handlers.varnholtMessage;
  var target = new EventTarget();
  var webview = {
    postMessage: function (message) {
      var json = JSON.stringify(message);
      channel.postMessage(json === undefined ? 'null' : json);
    },
    addEventListener: function (type, listener, options) {
      target.addEventListener(type, listener, options);
    },
    removeEventListener: function (type, listener, options) {
      target.removeEventListener(type, listener, options);
    }
  };
  Object.defineProperty(window, '__varnholtDeliver', {
    value: function (data) {
      target.dispatchEvent(new MessageEvent('message', { data: data }));
    }
  });
  if (!window.chrome) window.chrome = {};
  window.chrome.webview = webview;
  handlers.varnholtReady.postMessage('');
})();
)JS";

constexpr std::string_view kDeliverPrefix = "window.__varnholtDeliver(";
constexpr std::string_view kDeliverSuffix = ");";

}  // namespace

std::string_view bridgeScript() { return kBridgeScript; }

std::string buildDeliveryScript(std::string_view json) {
  std::string script;
  if (json.empty()) return script;
  script.reserve(kDeliverPrefix.size() + json.size() + kDeliverSuffix.size() + 16);
  script.append(kDeliverPrefix);
  // JSON text is a JavaScript expression, except that older engines reject
  // a raw U+2028 or U+2029 inside a string literal. Both can only occur
  // inside strings, where the escape means the same character.
  size_t done = 0;
  for (size_t i = json.find('\xE2'); i != std::string_view::npos; i = json.find('\xE2', i + 1)) {
    if (i + 2 < json.size() && json[i + 1] == '\x80' && (json[i + 2] == '\xA8' || json[i + 2] == '\xA9')) {
      script.append(json.substr(done, i - done));
      script.append(json[i + 2] == '\xA8' ? "\\u2028" : "\\u2029");
      done = i + 3;
    }
  }
  script.append(json.substr(done));
  script.append(kDeliverSuffix);
  return script;
}

}  // namespace varnholt_app
