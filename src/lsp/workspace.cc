#include "lsp/server.h"

#include <algorithm>
#include <cmath>

#include "analysis/explain.h"
#include "analysis/language_profile.h"
#include "lsp/json_access.h"
#include "project/scan_rules.h"
#include "protocol/json.h"
#include "protocol/paths.h"

// The workspace's scans and the open documents: their analysis and what is
// said about them.
namespace varnholt_app {

namespace {

constexpr auto kRescanDelay = std::chrono::milliseconds(300);
constexpr auto kRescanMaxDelay = std::chrono::seconds(2);

}  // namespace

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
    appendJsonString(out, doc.uri);
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
      appendJsonString(out, message);
      out += '}';
    }
    out += "]}";
    notify("textDocument/publishDiagnostics", out);
  }
  if (settings_.lineHeat) {
    std::string out = "{\"uri\":";
    appendJsonString(out, doc.uri);
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
  appendJsonString(out, doc.uri);
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
  appendJsonString(out, hoverMarkdown(found.front(), lineHeat01(found.front().heat, stats_)));
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
  appendJsonString(out, title);
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
    appendJsonString(out, "heat " + formatHeat(doc.heat.lines[static_cast<size_t>(line)], 0));
    out += ",\"paddingLeft\":true}";
  }
  out += ']';
  return out;
}

}  // namespace varnholt_app
