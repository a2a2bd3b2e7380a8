#pragma once
// The page is written against WebView2's window.chrome.webview. Under
// WebKitGTK a script injected at document start provides the same object
// on top of WebKit's script message handlers.

#include <string>
#include <string_view>

namespace varnholt_app {

// Handler names the bridge script posts to.
inline constexpr char kMessageHandlerName[] = "varnholtMessage";  // JSON text of page messages
inline constexpr char kReadyHandlerName[] = "varnholtReady";      // the bridge of a new document exists

// The script injected into the top frame at document start.
std::string_view bridgeScript();

}  // namespace varnholt_app
