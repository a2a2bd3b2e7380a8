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

}  // namespace

std::string_view bridgeScript() { return kBridgeScript; }

}  // namespace varnholt_app
