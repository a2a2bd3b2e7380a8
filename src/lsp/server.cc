#include "lsp/server.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "analysis/explain.h"
#include "analysis/language_profile.h"
#include "project/scan_rules.h"
#include "protocol/json.h"
#include "protocol/paths.h"
#include "lsp/json_access.h"

#ifndef VARNHOLT_VERSION
#define VARNHOLT_VERSION "0"
#endif

namespace varnholt_app {

namespace {

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kServerNotInitialized = -32002;
constexpr int kRequestCancelled = -32800;

void appendId(std::string& out, const Json& id) {
  if (id.is_number_integer()) {
    appendInt(out, id.get<int64_t>());
  } else if (id.is_number_unsigned()) {
    out += std::to_string(id.get<uint64_t>());
  } else if (id.is_string()) {
    appendJsonString(out, id.get_ref<const std::string&>());
  } else {
    out += "null";
  }
}


}  // namespace

std::string requestIdKey(const Json& id) {
  if (id.is_number_integer()) return "n:" + std::to_string(id.get<int64_t>());
  if (id.is_number_unsigned()) return "n:" + std::to_string(id.get<uint64_t>());
  if (id.is_string()) return "s:" + id.get<std::string>();
  return {};
}

LspServer::LspServer(LspHost host) : host_(std::move(host)), scratch_(std::make_unique<AnalysisScratch>()) {}
LspServer::~LspServer() = default;

std::optional<std::string> LspServer::cancelTarget(std::string_view body) {
  // Cheap test first: the reader thread sees every message.
  if (body.size() > 4096 || body.find("\"$/cancelRequest\"") == std::string_view::npos) return std::nullopt;
  const Json msg = Json::parse(body, nullptr, false);
  if (member(msg, "method") != "$/cancelRequest") return std::nullopt;
  std::string key = requestIdKey(member(member(msg, "params"), "id"));
  if (key.empty()) return std::nullopt;
  return key;
}

void LspServer::cancel(const std::string& idKey) {
  std::lock_guard<std::mutex> lock(cancelMutex_);
  if (cancelled_.size() > 4096) cancelled_.clear();  // ids of requests long answered
  cancelled_.insert(idKey);
}

void LspServer::handle(std::string_view body) {
  if (exited_) return;
  const Json msg = Json::parse(body, nullptr, false);
  if (msg.is_discarded()) {
    respondError(nullptr, kParseError, "the message is not valid JSON");
    return;
  }
  const Json& method = member(msg, "method");
  const bool hasId = msg.is_object() && msg.contains("id");
  const Json& id = member(msg, "id");
  if (!msg.is_object() || (!method.is_string() && !hasId) ||
      (hasId && !id.is_string() && !id.is_number_integer() && !id.is_number_unsigned() && !id.is_null())) {
    respondError(nullptr, kInvalidRequest, "not a JSON-RPC request, notification or response");
    return;
  }
  if (!method.is_string()) return;  // a client's answer to one of our requests
  const std::string& name = method.get_ref<const std::string&>();
  try {
    if (hasId) {
      request(id, name, member(msg, "params"));
    } else {
      notification(name, member(msg, "params"));
    }
  } catch (const Json::exception& e) {
    if (hasId) {
      respondError(id, kInvalidParams, e.what());
    } else {
      logMessage(1, std::string(name) + ": " + e.what());
    }
  } catch (const std::exception& e) {
    if (hasId) respondError(id, kInternalError, e.what());
    logMessage(1, std::string(name) + ": " + e.what());
  }
}

void LspServer::badFrame(std::string_view why) {
  if (host_.log) host_.log(std::string("varnholt-lsp: dropped input: ") + std::string(why));
}

void LspServer::request(const Json& id, const std::string& method, const Json& params) {
  {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    if (cancelled_.erase(requestIdKey(id)) > 0) {
      respondError(id, kRequestCancelled, "cancelled");
      return;
    }
  }
  if (method == "initialize") {
    if (initialized_) {
      respondError(id, kInvalidRequest, "initialize was already sent");
      return;
    }
    const std::string result = initializeResult(params);
    initialized_ = true;
    respond(id, result);
    return;
  }
  if (!initialized_) {
    respondError(id, kServerNotInitialized, "initialize first");
    return;
  }
  if (shutdown_) {
    respondError(id, kInvalidRequest, "the server is shutting down");
    return;
  }
  if (method == "shutdown") {
    shutdown_ = true;
    respond(id, "null");
    return;
  }
  const bool hover = method == "textDocument/hover";
  const bool lens = method == "textDocument/codeLens";
  const bool hints = method == "textDocument/inlayHint";
  if (!hover && !lens && !hints) {
    respondError(id, kMethodNotFound, "unknown method " + method);
    return;
  }
  if (!member(member(params, "textDocument"), "uri").is_string() ||
      (hover && !member(params, "position").is_object())) {
    respondError(id, kInvalidParams, "textDocument.uri or position missing");
    return;
  }
  Document* doc = find(params);
  if (doc == nullptr) {
    respond(id, hover ? "null" : "[]");
    return;
  }
  if (hover) {
    respond(id, this->hover(*doc, params));
  } else if (lens) {
    respond(id, codeLens(*doc));
  } else {
    respond(id, inlayHints(*doc, params));
  }
}

void LspServer::notification(const std::string& method, const Json& params) {
  if (method == "exit") {
    exited_ = true;
    exitCode_ = shutdown_ ? 0 : 1;
    return;
  }
  if (method == "$/cancelRequest") {
    const std::string key = requestIdKey(member(params, "id"));
    if (!key.empty()) cancel(key);
    return;
  }
  if (!initialized_) return;  // notifications before initialize are dropped
  if (method == "initialized") {
    startScans();
  } else if (method == "textDocument/didOpen") {
    const Json& item = member(params, "textDocument");
    const std::optional<std::string> uri = stringMember(item, "uri");
    const std::optional<std::string> text = stringMember(item, "text");
    if (!uri || !text) {
      logMessage(2, "didOpen without a uri or text");
      return;
    }
    Document& doc = documents_[*uri];
    doc.uri = *uri;
    doc.path = pathFromFileUri(*uri).value_or(std::string());
    doc.version = intMember(item, "version");
    doc.text.setText(*text);
    classify(doc);
    doc.dirty = true;
  } else if (method == "textDocument/didChange") {
    Document* doc = find(params);
    if (doc == nullptr) {
      logMessage(2, "didChange for a document that is not open: " +
                        stringMember(member(params, "textDocument"), "uri").value_or("?"));
      return;
    }
    const Json& changes = member(params, "contentChanges");
    if (!changes.is_array()) {
      logMessage(2, "didChange without contentChanges");
      return;
    }
    for (const Json& c : changes) {
      const std::optional<std::string> text = stringMember(c, "text");
      if (!text) continue;
      const Json& range = member(c, "range");
      if (range.is_object()) {
        doc->text.replace(positionOf(member(range, "start")), positionOf(member(range, "end")), *text);
      } else {
        doc->text.setText(*text);
      }
    }
    doc->version = intMember(member(params, "textDocument"), "version", doc->version);
    doc->dirty = true;
  } else if (method == "textDocument/didSave") {
    Document* doc = find(params);
    // Without a watcher the save is our only word that the disk changed.
    if (doc != nullptr && !host_.watch) {
      for (Workspace& w : workspaces_) {
        if (!relativeUnder(w.root, doc->path).empty()) folderChanged(w.root);
      }
    }
  } else if (method == "textDocument/didClose") {
    const std::optional<std::string> uri = stringMember(member(params, "textDocument"), "uri");
    const auto it = uri ? documents_.find(*uri) : documents_.end();
    if (it == documents_.end()) return;
    clearDiagnostics(it->second);
    documents_.erase(it);
  } else if (method == "workspace/didChangeConfiguration") {
    changeConfiguration(member(params, "settings"));
  } else if (method == "workspace/didChangeWorkspaceFolders") {
    const Json& event = member(params, "event");
    std::vector<std::string> roots;
    for (const Workspace& w : workspaces_) roots.push_back(w.root);
    for (const Json& f : member(event, "removed").is_array() ? member(event, "removed") : Json::array()) {
      const std::optional<std::string> path = pathFromFileUri(stringMember(f, "uri").value_or(""));
      if (path) roots.erase(std::remove(roots.begin(), roots.end(), *path), roots.end());
    }
    for (const Json& f : member(event, "added").is_array() ? member(event, "added") : Json::array()) {
      const std::optional<std::string> path = pathFromFileUri(stringMember(f, "uri").value_or(""));
      if (path && std::find(roots.begin(), roots.end(), *path) == roots.end()) roots.push_back(*path);
    }
    setRoots(std::move(roots));
    startScans();
    refreshStats();
  }
}

std::string LspServer::initializeResult(const Json& params) {
  std::vector<std::string> roots;
  const Json& folders = member(params, "workspaceFolders");
  if (folders.is_array()) {
    for (const Json& f : folders) {
      const std::optional<std::string> path = pathFromFileUri(stringMember(f, "uri").value_or(""));
      if (path) roots.push_back(*path);
    }
  }
  if (roots.empty()) {
    if (const auto uri = stringMember(params, "rootUri")) {
      if (const auto path = pathFromFileUri(*uri)) roots.push_back(*path);
    } else if (const auto path = stringMember(params, "rootPath")) {
      if (!path->empty()) roots.push_back(*path);
    }
  }
  setRoots(std::move(roots));
  progressSupported_ = member(member(member(params, "capabilities"), "window"), "workDoneProgress") == true;
  std::vector<std::string> problems;
  applySettings(settings_, member(params, "initializationOptions"), problems);
  for (const std::string& p : problems) logMessage(2, "varnholt settings: " + p);
  return "{\"capabilities\":{\"positionEncoding\":\"utf-16\","
         "\"textDocumentSync\":{\"openClose\":true,\"change\":2,\"save\":{\"includeText\":false}},"
         "\"hoverProvider\":true,\"codeLensProvider\":{\"resolveProvider\":false},"
         "\"inlayHintProvider\":true,"
         "\"workspace\":{\"workspaceFolders\":{\"supported\":true,\"changeNotifications\":true}}},"
         "\"serverInfo\":{\"name\":\"varnholt-lsp\",\"version\":\"" VARNHOLT_VERSION "\"}}";
}

void LspServer::respond(const Json& id, std::string_view result) {
  std::string out = "{\"jsonrpc\":\"2.0\",\"id\":";
  appendId(out, id);
  out += ",\"result\":";
  out += result;
  out += '}';
  host_.send(std::move(out));
}

void LspServer::respondError(const Json& id, int code, std::string_view message) {
  std::string out = "{\"jsonrpc\":\"2.0\",\"id\":";
  appendId(out, id);
  out += ",\"error\":{\"code\":";
  appendInt(out, code);
  out += ",\"message\":";
  appendJsonString(out, message);
  out += "}}";
  host_.send(std::move(out));
}

void LspServer::notify(std::string_view method, std::string_view params) {
  std::string out = "{\"jsonrpc\":\"2.0\",\"method\":";
  appendJsonString(out, method);
  out += ",\"params\":";
  out += params;
  out += '}';
  host_.send(std::move(out));
}

void LspServer::logMessage(int type, std::string_view text) {
  std::string params = "{\"type\":";
  appendInt(params, type);
  params += ",\"message\":";
  appendJsonString(params, text);
  params += '}';
  notify("window/logMessage", params);
}

}  // namespace varnholt_app
