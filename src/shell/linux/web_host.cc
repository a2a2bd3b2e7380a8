#include "shell/linux/web_host.h"

#include <webkit2/webkit2.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "shell/linux/signal_callback.h"
#include "shell/linux/web_bridge.h"

namespace varnholt_app {

namespace {

// True when OpenGL can only be had from a software rasteriser: no render
// device (nor NVIDIA's own), or Mesa told to use software. WebKit's
// compositing then costs more than painting without it: while a large
// folder was analysed, the repaints for its progress took a third of a core.
bool softwareGlOnly() {
  const char* forced = std::getenv("LIBGL_ALWAYS_SOFTWARE");
  if (forced != nullptr && *forced != '\0' && std::strcmp(forced, "0") != 0 &&
      std::strcmp(forced, "false") != 0) {
    return true;
  }
  std::error_code error;
  if (std::filesystem::exists("/dev/nvidiactl", error)) return false;
  for (std::filesystem::directory_iterator it("/dev/dri", error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("renderD", 0) == 0 || name.rfind("card", 0) == 0) return false;
  }
  return true;
}

gboolean suppressContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
  return TRUE;
}

}  // namespace

GtkWidget* WebHost::create(MessageHandler onMessage, bool consoleToStdout) {
  onMessage_ = std::move(onMessage);

  WebKitUserContentManager* content = webkit_user_content_manager_new();
  // Connect before registering, so no message can slip past.
  g_signal_connect(content, "script-message-received::varnholtMessage",
                   asCallback(&WebHost::onScriptMessage), this);
  g_signal_connect(content, "script-message-received::varnholtReady",
                   asCallback(&WebHost::onBridgeReady), this);
  webkit_user_content_manager_register_script_message_handler(content, kMessageHandlerName);
  webkit_user_content_manager_register_script_message_handler(content, kReadyHandlerName);
  const std::string bridge(bridgeScript());
  WebKitUserScript* script = webkit_user_script_new(
      bridge.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
      nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);

  GtkWidget* widget = webkit_web_view_new_with_user_content_manager(content);
  g_object_unref(content);  // the view holds it
  view_ = WEBKIT_WEB_VIEW(widget);

  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  webkit_settings_set_enable_developer_extras(settings, TRUE);
  webkit_settings_set_enable_write_console_messages_to_stdout(settings, consoleToStdout ? TRUE : FALSE);
  if (softwareGlOnly()) {
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  }
  g_signal_connect(view_, "context-menu", asCallback(&suppressContextMenu), nullptr);
  g_signal_connect(view_, "load-changed", asCallback(&WebHost::onLoadChanged), this);
  g_signal_connect(view_, "web-process-terminated", asCallback(&WebHost::onWebProcessGone), this);
  g_signal_connect(view_, "destroy", asCallback(&WebHost::onDestroyed), this);
  return widget;
}

void WebHost::loadPage(const std::string& html) {
  if (view_ == nullptr) return;
  page_ = html;
  bridgeReady_ = false;
  webkit_web_view_load_html(view_, html.c_str(), nullptr);
}

void WebHost::postJson(std::string_view json) {
  if (view_ == nullptr || json.empty()) return;
  if (!bridgeReady_) {
    held_.emplace_back(json);
    return;
  }
  deliver(std::string(json));
}

// The message goes in as the argument of one fixed function, not as script
// text: several MB of script per message were compiled anew each time, and
// the web process grew with every rescan of a large project.
void WebHost::deliver(const std::string& json) {
  static constexpr char kBody[] = "window.__varnholtDeliver(JSON.parse(json));";
  // GVariant strings must be valid UTF-8 without NUL; JSON for the page is.
  if (!g_utf8_validate(json.data(), static_cast<gssize>(json.size()), nullptr)) return;
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&arguments, "{sv}", "json", g_variant_new_string(json.c_str()));
  // Our own reference, dropped here, whatever WebKit does with a floating one.
  GVariant* held = g_variant_ref_sink(g_variant_builder_end(&arguments));
  webkit_web_view_call_async_javascript_function(view_, kBody, -1, held, nullptr, nullptr, nullptr, nullptr, nullptr);
  g_variant_unref(held);
}

void WebHost::onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, void* self) {
  auto* host = static_cast<WebHost*>(self);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (value == nullptr || !jsc_value_is_string(value) || !host->onMessage_) return;
  char* text = jsc_value_to_string(value);
  if (text == nullptr) return;
  const std::string json(text);
  g_free(text);
  host->onMessage_(json);
}

// WebKit quirk: scripts run in whatever document is current, so
// a message sent right after load_html would land in the old about:blank and
// be lost. Hold messages until the bridge of the new document says it is
// there; it does so before any of the page's own scripts run.
void WebHost::onBridgeReady(WebKitUserContentManager*, WebKitJavascriptResult*, void* self) {
  static_cast<WebHost*>(self)->flushHeld();
}

void WebHost::flushHeld() {
  bridgeReady_ = true;
  std::vector<std::string> held;
  held.swap(held_);
  for (const std::string& json : held) {
    if (view_ == nullptr) break;
    deliver(json);
  }
}

void WebHost::onLoadChanged(WebKitWebView*, int event, void* self) {
  auto* host = static_cast<WebHost*>(self);
  if (event == WEBKIT_LOAD_STARTED) {
    // A new document is on its way; its bridge will announce itself.
    host->bridgeReady_ = false;
  } else if (event == WEBKIT_LOAD_FINISHED && !host->bridgeReady_) {
    // The load failed before a new document came (the old one stays), or
    // the document has no bridge: don't hold messages forever.
    host->flushHeld();
  }
}

// The page runs in a separate web process; when that one dies (crash, out of
// memory) the view turns blank. Load the page again: it says "uiReady" anew
// and gets the project sent again. A few times only, not in a crash loop.
void WebHost::onWebProcessGone(WebKitWebView*, int, void* self) {
  auto* host = static_cast<WebHost*>(self);
  if (host->view_ == nullptr || host->reloads_ >= 3) return;
  ++host->reloads_;
  host->held_.clear();  // meant for the document that is gone
  host->loadPage(host->page_);
}

void WebHost::onDestroyed(GtkWidget*, void* self) {
  auto* host = static_cast<WebHost*>(self);
  host->view_ = nullptr;
  host->held_.clear();
}

}  // namespace varnholt_app
