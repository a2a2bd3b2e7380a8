#pragma once
// The WebKitGTK view that shows the page, with window.chrome.webview in it.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _WebKitJavascriptResult WebKitJavascriptResult;

namespace varnholt_app {

class WebHost {
 public:
  // Receives the JSON text of each message the page posts.
  using MessageHandler = std::function<void(std::string_view json)>;

  WebHost() = default;
  WebHost(const WebHost&) = delete;
  WebHost& operator=(const WebHost&) = delete;

  // Creates the view; the caller puts it into its window.
  GtkWidget* create(MessageHandler onMessage, bool consoleToStdout);
  // Hands the page text to the view (no base address, like NavigateToString).
  void loadPage(const std::string& html);
  // Delivers one JSON text to the page's listeners; held back while the
  // document that will receive it is still loading.
  void postJson(std::string_view json);
  bool exists() const { return view_ != nullptr; }

 private:
  static void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, void* self);
  static void onBridgeReady(WebKitUserContentManager*, WebKitJavascriptResult*, void* self);
  static void onLoadChanged(WebKitWebView*, int event, void* self);
  static void onWebProcessGone(WebKitWebView*, int reason, void* self);
  static void onDestroyed(GtkWidget*, void* self);
  void flushHeld();
  void deliver(const std::string& json);

  WebKitWebView* view_ = nullptr;
  MessageHandler onMessage_;
  std::string page_;
  int reloads_ = 0;
  bool bridgeReady_ = false;
  std::vector<std::string> held_;  // messages waiting for the bridge
};

}  // namespace varnholt_app
