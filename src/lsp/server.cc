#include "lsp/server.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "analysis/explain.h"
#include "analysis/language_profile.h"
#include "project/scan_rules.h"
#include "protocol/json.h"
#include "protocol/paths.h"

#ifndef VARNHOLT_VERSION
#define VARNHOLT_VERSION "0"
#endif

namespace varnholt_app {

using Json = nlohmann::json;

namespace {

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kServerNotInitialized = -32002;
constexpr int kRequestCancelled = -32800;
constexpr auto kRescanDelay = std::chrono::milliseconds(300);
constexpr auto kRescanMaxDelay = std::chrono::seconds(2);
constexpr std::string_view kProgressToken = "varnholt/scan";

void appendString(std::string& out, std::string_view text) {
  out += '"';
  appendJsonEscaped(out, text);
  out += '"';
}

void appendId(std::string& out, const Json& id) {
  if (id.is_number_integer()) {
    appendInt(out, id.get<int64_t>());
  } else if (id.is_number_unsigned()) {
    out += std::to_string(id.get<uint64_t>());
  } else if (id.is_string()) {
    appendString(out, id.get_ref<const std::string&>());
  } else {
    out += "null";
  }
}

void appendRange(std::string& out, int64_t line, int64_t from, int64_t to) {
  out += "{\"start\":{\"line\":";
  appendInt(out, line);
  out += ",\"character\":";
  appendInt(out, from);
  out += "},\"end\":{\"line\":";
  appendInt(out, line);
  out += ",\"character\":";
  appendInt(out, to);
  out += "}}";
}

const Json& member(const Json& object, const char* key) {
  static const Json kNull;
  if (!object.is_object()) return kNull;
  const auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}

std::optional<std::string> stringMember(const Json& object, const char* key) {
  const Json& v = member(object, key);
  if (!v.is_string()) return std::nullopt;
  return v.get<std::string>();
}

int64_t intMember(const Json& object, const char* key, int64_t fallback = 0) {
  const Json& v = member(object, key);
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_unsigned()) return static_cast<int64_t>(std::min<uint64_t>(v.get<uint64_t>(), INT64_MAX));
  return fallback;
}

TextPosition positionOf(const Json& p) {
  return {intMember(p, "line"), intMember(p, "character")};
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

void LspServer::setRoots(std::vector<std::string> roots) {
  std::vector<Workspace> next;
  for (std::string& root : roots) {
    while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();
    const auto old = std::find_if(workspaces_.begin(), workspaces_.end(),
                                  [&](const Workspace& w) { return w.root == root; });
    if (old != workspaces_.end()) {
      next.push_back(std::move(*old));
    } else {
      next.push_back({root, nullptr, false, false, std::nullopt, std::nullopt});
    }
  }
  workspaces_ = std::move(next);
  tickets_.clear();  // scans of removed folders are dropped when they end
  for (size_t i = 0; i < workspaces_.size(); ++i) workspaces_[i].scanning = false;
  if (host_.watch) {
    std::vector<std::string> list;
    for (const Workspace& w : workspaces_) list.push_back(w.root);
    host_.watch(list);
  }
}

void LspServer::startScans() {
  if (!host_.startScan) return;
  bool any = false;
  for (size_t i = 0; i < workspaces_.size(); ++i) {
    Workspace& w = workspaces_[i];
    if (w.model || w.scanning) continue;
    w.scanning = true;
    any = true;
    const uint64_t ticket = nextTicket_++;
    tickets_[ticket] = i;
    host_.startScan(w.root, nullptr, ticket);
  }
  if (any && !firstScanDone_ && progressSupported_ && !progressOpen_) {
    std::string req = "{\"jsonrpc\":\"2.0\",\"id\":\"varnholt-";
    appendInt(req, nextRequestId_++);
    req += "\",\"method\":\"window/workDoneProgress/create\",\"params\":{\"token\":\"";
    req += kProgressToken;
    req += "\"}}";
    host_.send(std::move(req));
    notify("$/progress", std::string("{\"token\":\"") + std::string(kProgressToken) +
                             "\",\"value\":{\"kind\":\"begin\",\"title\":\"Varnholt\","
                             "\"message\":\"scanning the workspace\",\"percentage\":0}}");
    progressOpen_ = true;
  }
}

void LspServer::scanProgress(uint64_t ticket, size_t done, size_t total) {
  if (!progressOpen_ || tickets_.find(ticket) == tickets_.end() || total == 0) return;
  const int percent = static_cast<int>(std::min<size_t>(done * 100 / total, 100));
  if (percent == progressPercent_) return;
  progressPercent_ = percent;
  std::string params = "{\"token\":\"" + std::string(kProgressToken) +
                       "\",\"value\":{\"kind\":\"report\",\"message\":\"";
  params += std::to_string(done) + " of " + std::to_string(total) + " files\",\"percentage\":";
  appendInt(params, percent);
  params += "}}";
  notify("$/progress", params);
}

void LspServer::scanDone(uint64_t ticket, std::unique_ptr<ProjectAnalysis> analysis, std::string failure) {
  const auto it = tickets_.find(ticket);
  if (it == tickets_.end()) return;  // its folder left the workspace meanwhile
  Workspace& w = workspaces_[it->second];
  tickets_.erase(it);
  w.scanning = false;
  if (analysis) {
    if (!analysis->sameAsPrevious || !w.model) {
      w.model = std::make_shared<const ProjectModel>(std::move(analysis->model));
    }
  } else {
    logMessage(1, "varnholt: cannot analyse " + w.root + ": " + failure);
    if (!w.model) w.model = std::make_shared<const ProjectModel>();
  }
  if (w.rescan) {
    w.rescan = false;
    w.due = LspClock::now();
  }
  if (!tickets_.empty()) return;  // every folder first, then one refresh
  if (progressOpen_) {
    notify("$/progress", "{\"token\":\"" + std::string(kProgressToken) +
                             "\",\"value\":{\"kind\":\"end\",\"message\":\"done\"}}");
    progressOpen_ = false;
  }
  firstScanDone_ = true;
  refreshStats();
}

void LspServer::folderChanged(const std::string& root) {
  const LspClock::time_point now = LspClock::now();
  for (Workspace& w : workspaces_) {
    if (w.root != root) continue;
    // Quiet time after the last change, but a folder that never rests
    // (a build, a checkout) is still rescanned every few seconds.
    if (!w.firstChange) w.firstChange = now;
    w.due = std::min(now + kRescanDelay, *w.firstChange + kRescanMaxDelay);
  }
}

std::optional<LspClock::time_point> LspServer::nextDeadline() const {
  std::optional<LspClock::time_point> next;
  for (const Workspace& w : workspaces_) {
    if (w.due && (!next || *w.due < *next)) next = w.due;
  }
  return next;
}

void LspServer::tick(LspClock::time_point now) {
  for (size_t i = 0; i < workspaces_.size(); ++i) {
    Workspace& w = workspaces_[i];
    if (!w.due || *w.due > now) continue;
    w.due.reset();
    w.firstChange.reset();
    if (w.scanning) {
      w.rescan = true;
      continue;
    }
    if (!host_.startScan) continue;
    w.scanning = true;
    const uint64_t ticket = nextTicket_++;
    tickets_[ticket] = i;
    host_.startScan(w.root, w.model, ticket);
  }
}

void LspServer::refreshStats() {
  std::vector<WorkspaceModel> models;
  for (const Workspace& w : workspaces_) models.push_back({w.root, w.model.get()});
  stats_ = computeProjectStats(models, settings_);
  for (auto& [uri, doc] : documents_) {
    classify(doc);
    doc.dirty = true;
  }
}

void LspServer::changeConfiguration(const Json& options) {
  std::vector<std::string> problems;
  const LspSettings before = settings_;
  applySettings(settings_, options, problems);
  for (const std::string& p : problems) logMessage(2, "varnholt settings: " + p);
  refreshStats();
  // Features that were turned off take their marks back now.
  if (before.diagnostics && !settings_.diagnostics) {
    for (auto& [uri, doc] : documents_) clearDiagnostics(doc);
  }
}

double LspServer::diskHeatOf(const std::string& path, const ProjectFile** file) const {
  for (const Workspace& w : workspaces_) {
    if (!w.model) continue;
    const auto it = w.model->files.find(path);
    if (it == w.model->files.end()) continue;
    if (file != nullptr) *file = &it->second;
    if (!fileCounts(it->second, w.root, settings_)) break;
    return std::isnan(it->second.heatRaw) ? 0.0 : it->second.heatRaw;
  }
  return std::nan("");
}

void LspServer::classify(Document& doc) const {
  const ProjectFile* known = nullptr;
  diskHeatOf(doc.path, &known);
  const std::string& text = doc.text.text();
  ProjectFile probe;
  probe.path = doc.path.empty() ? doc.uri : doc.path;
  doc.analysable = static_cast<int64_t>(text.size()) <= settings_.maxFileBytes;
  if (known != nullptr) {
    probe.language = known->language;
  } else if (const auto language = languageForExtension(extensionOf(lastComponent(probe.path)))) {
    probe.language = *language;
  } else {
    probe.language = LanguageId::PlainText;
    doc.analysable &= bytesLookLikeText(std::string_view(text).substr(0, kTextProbeBytes));
  }
  doc.language = probe.language;
  std::string root;
  for (const Workspace& w : workspaces_) {
    if (!relativeUnder(w.root, probe.path).empty() && w.root.size() > root.size()) root = w.root;
  }
  classifyFile(probe, root, std::string_view(text).substr(0, kTextProbeBytes));
  probe.stamp.size = static_cast<int64_t>(text.size());
  doc.analysable &= fileCounts(probe, root, settings_);
}

void LspServer::analyse(Document& doc) {
  doc.dirty = false;
  if (!doc.analysable) {
    doc.heat = BufferHeat();
    return;
  }
  analyzeBuffer(doc.text.text(), doc.language, doc.heat, *scratch_);
  if (workspaces_.empty()) {
    // A lone file is its own project.
    ProjectModel own;
    ProjectFile file;
    file.path = doc.path;
    file.language = doc.language;
    file.lineHeatRaw = LineHeats(doc.heat.lines);
    file.heatRaw = doc.heat.total;
    file.lineCount = static_cast<int32_t>(doc.heat.lines.size());
    own.files.emplace(file.path, std::move(file));
    LspSettings alone = settings_;
    alone.scope = FileScope::All;  // the buffer passed the scope test already
    stats_ = computeProjectStats({{"", &own}}, alone);
  }
  markHotLines(doc.text.text(), doc.language, stats_, settings_, doc.heat);
}

void LspServer::flush() {
  // With folders, the project scale comes first: nothing is published before the first scan.
  if (!workspaces_.empty() && !firstScanDone_) return;
  for (auto& [uri, doc] : documents_) {
    if (!doc.dirty) continue;
    analyse(doc);
    publish(doc);
  }
}

void LspServer::publish(Document& doc) {
  if (settings_.diagnostics) {
    std::string out = "{\"uri\":";
    appendString(out, doc.uri);
    out += ",\"version\":";
    appendInt(out, doc.version);
    out += ",\"diagnostics\":[";
    for (size_t k = 0; k < doc.heat.hot.size(); ++k) {
      const auto line = static_cast<size_t>(doc.heat.hot[k]);
      if (k > 0) out += ',';
      out += "{\"range\":";
      appendRange(out, doc.heat.hot[k], 0, utf16Length(doc.text.line(line)));
      out += ",\"severity\":";
      appendInt(out, settings_.severity);
      out += ",\"source\":\"varnholt\",\"message\":";
      std::string message = "heat " + formatHeat(doc.heat.lines[line]);
      if (!doc.heat.reasons[k].empty()) message += " \xE2\x80\x94 " + doc.heat.reasons[k];
      appendString(out, message);
      out += '}';
    }
    out += "]}";
    notify("textDocument/publishDiagnostics", out);
  }
  if (settings_.lineHeat) {
    std::string out = "{\"uri\":";
    appendString(out, doc.uri);
    out += ",\"version\":";
    appendInt(out, doc.version);
    out += ",\"heat\":[";
    const size_t lines = doc.text.lineCount();
    for (size_t i = 0; i < lines; ++i) {
      if (i > 0) out += ',';
      const double v = i < doc.heat.lines.size() ? lineHeat01(doc.heat.lines[i], stats_) : 0.0;
      if (v == 0.0) {
        out += '0';
      } else {
        appendFixed(out, v, 3);
      }
    }
    out += "]}";
    notify("varnholt/lineHeat", out);
  }
}

void LspServer::clearDiagnostics(const Document& doc) {
  std::string out = "{\"uri\":";
  appendString(out, doc.uri);
  out += ",\"diagnostics\":[]}";
  notify("textDocument/publishDiagnostics", out);
}

LspServer::Document* LspServer::find(const Json& params) {
  const std::optional<std::string> uri = stringMember(member(params, "textDocument"), "uri");
  if (!uri) return nullptr;
  const auto it = documents_.find(*uri);
  return it == documents_.end() ? nullptr : &it->second;
}

std::string LspServer::hover(Document& doc, const Json& params) {
  const TextPosition at = positionOf(member(params, "position"));
  if (!doc.analysable || at.line < 0 || static_cast<uint64_t>(at.line) >= doc.text.lineCount()) return "null";
  const auto line = static_cast<int32_t>(at.line);
  const std::vector<LineExplanation> found =
      explainText(doc.text.text(), profileForLanguage(doc.language), {line + 1});
  if (found.empty()) return "null";
  std::string out = "{\"contents\":{\"kind\":\"markdown\",\"value\":";
  appendString(out, hoverMarkdown(found.front(), lineHeat01(found.front().heat, stats_)));
  out += "},\"range\":";
  appendRange(out, line, 0, utf16Length(doc.text.line(static_cast<size_t>(line))));
  out += '}';
  return out;
}

std::string LspServer::codeLens(Document& doc) {
  if (!settings_.codeLens || !doc.analysable) return "[]";
  if (doc.dirty) {
    analyse(doc);
    publish(doc);
  }
  size_t total = 0;
  const size_t rank = fileRank(doc.heat.total, diskHeatOf(doc.path), stats_, total);
  std::string title = "file heat " + formatHeat(doc.heat.total) + " \xC2\xB7 rank " +
                      std::to_string(rank) + " of " + std::to_string(total);
  std::string out = "[{\"range\":";
  appendRange(out, 0, 0, 0);
  out += ",\"command\":{\"title\":";
  appendString(out, title);
  out += ",\"command\":\"\"}}]";
  return out;
}

std::string LspServer::inlayHints(Document& doc, const Json& params) {
  if (!settings_.inlayHints || !doc.analysable) return "[]";
  if (doc.dirty) {
    analyse(doc);
    publish(doc);
  }
  const Json& range = member(params, "range");
  const int64_t from = intMember(member(range, "start"), "line", 0);
  const int64_t to = intMember(member(range, "end"), "line", INT64_MAX);
  std::string out = "[";
  bool first = true;
  for (const int32_t line : doc.heat.hot) {
    if (line < from || line > to) continue;
    if (!first) out += ',';
    first = false;
    out += "{\"position\":{\"line\":";
    appendInt(out, line);
    out += ",\"character\":";
    appendInt(out, utf16Length(doc.text.line(static_cast<size_t>(line))));
    out += "},\"label\":";
    appendString(out, "heat " + formatHeat(doc.heat.lines[static_cast<size_t>(line)], 0));
    out += ",\"paddingLeft\":true}";
  }
  out += ']';
  return out;
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
  appendString(out, message);
  out += "}}";
  host_.send(std::move(out));
}

void LspServer::notify(std::string_view method, std::string_view params) {
  std::string out = "{\"jsonrpc\":\"2.0\",\"method\":";
  appendString(out, method);
  out += ",\"params\":";
  out += params;
  out += '}';
  host_.send(std::move(out));
}

void LspServer::logMessage(int type, std::string_view text) {
  std::string params = "{\"type\":";
  appendInt(params, type);
  params += ",\"message\":";
  appendString(params, text);
  params += '}';
  notify("window/logMessage", params);
}

}  // namespace varnholt_app
