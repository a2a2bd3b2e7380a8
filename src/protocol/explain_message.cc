#include "protocol/explain_message.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "analysis/file_heat.h"
#include "protocol/json.h"

namespace varnholt_app {

namespace {

void appendNumber(std::string& out, double value) {
  if (!std::isfinite(value)) value = 0.0;
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void appendMember(std::string& out, const char* key, double value) {
  out += ",\"";
  out += key;
  out += "\":";
  appendNumber(out, value);
}

void appendString(std::string& out, std::string_view text) {
  out += '"';
  appendJsonEscaped(out, text);
  out += '"';
}

void appendNeighbours(std::string& out, const char* key, const std::vector<HotNeighbour>& list) {
  out += ",\"";
  out += key;
  out += "\":[";
  for (size_t i = 0; i < list.size(); ++i) {
    out += i > 0 ? ",{\"line\":" : "{\"line\":";
    appendInt(out, list[i].line);
    appendMember(out, "rawScore", list[i].rawScore);
    appendMember(out, "share", list[i].share);
    out += '}';
  }
  out += ']';
}

}  // namespace

void appendExplanationJson(std::string& out, const LineExplanation& e) {
  out += "{\"line\":";
  appendInt(out, e.line);
  appendMember(out, "heat", e.heat);
  out += ",\"scored\":";
  out += e.scored ? "true" : "false";
  if (!e.scored) {
    out += ",\"notScoredBecause\":";
    appendString(out, e.notScoredBecause);
    out += ",\"notScoredText\":";
    appendString(out, e.notScoredText);
    out += '}';
    return;
  }
  appendMember(out, "complexity", e.complexity);
  appendMember(out, "heatBase", e.heatBase);
  appendMember(out, "keywordWeight", e.keywordWeight);
  appendMember(out, "rawScore", e.rawScore);
  appendMember(out, "intensity", e.intensity);
  out += ",\"declaration\":";
  out += e.declaration ? "true" : "false";
  out += ",\"terms\":[";
  bool first = true;
  for (const HeatTerm& t : e.terms) {
    if (t.value == 0) continue;
    out += first ? "{\"name\":" : ",{\"name\":";
    first = false;
    appendString(out, termName(t.kind));
    out += ",\"count\":";
    appendInt(out, t.count);
    appendMember(out, "value", t.value);
    out += ",\"words\":[";
    for (size_t i = 0; i < t.words.size(); ++i) {
      if (i > 0) out += ',';
      appendString(out, t.words[i]);
    }
    out += "]}";
  }
  out += "],\"block\":{\"lines\":";
  appendInt(out, e.blockLines);
  out += ",\"typeKeywords\":";
  appendInt(out, e.blockTypeKeywords);
  appendMember(out, "keywordDensity", e.blockKeywordDensity);
  out += ",\"depth\":";
  appendInt(out, e.depth);
  appendMember(out, "factor", e.blockFactor);
  out += "},\"trend\":{\"keyword\":";
  appendNumber(out, e.keywordTrend);
  appendMember(out, "token", e.tokenTrend);
  appendMember(out, "factor", e.trendFactor);
  out += "},\"depthFactor\":";
  appendNumber(out, e.depthFactor);
  out += ",\"spread\":{\"before\":";
  appendNumber(out, e.spreadBefore);
  appendMember(out, "after", e.spreadAfter);
  appendMember(out, "value", e.spread);
  appendMember(out, "factor", e.spreadFactor);
  appendNeighbours(out, "hotBefore", e.hotBefore);
  appendNeighbours(out, "hotAfter", e.hotAfter);
  out += "},\"reasons\":[";
  const std::vector<HeatReason> reasons = heatReasons(e);
  for (size_t i = 0; i < reasons.size(); ++i) {
    out += i > 0 ? ",{\"text\":" : "{\"text\":";
    appendString(out, reasons[i].text);
    appendMember(out, "factor", reasons[i].factor);
    appendMember(out, "points", reasons[i].points);
    out += ",\"lines\":[";
    for (size_t k = 0; k < reasons[i].lines.size(); ++k) {
      if (k > 0) out += ',';
      appendInt(out, reasons[i].lines[k]);
    }
    out += "]}";
  }
  out += "]}";
}

bool explainFileLine(const ProjectFile& file, int32_t line, LineExplanation& out) {
  std::string text;
  if (line < 1 || !readFileText(file.path, text)) return false;
  std::vector<LineExplanation> found =
      explainText(text, profileForLanguage(file.language), {line});
  if (found.empty()) return false;
  out = std::move(found.front());
  return true;
}

std::string buildExplainMessage(std::string_view path, int32_t line,
                                const LineExplanation* explanation) {
  std::string out = "{\"type\":\"setExplain\",\"path_b64\":\"";
  appendBase64(out, path);
  out += "\",\"line\":";
  appendInt(out, line);
  out += ",\"explanation\":";
  if (explanation != nullptr) {
    appendExplanationJson(out, *explanation);
  } else {
    out += "null";
  }
  out += '}';
  return out;
}

std::vector<std::string> auditReasons(const std::vector<AuditItem>& items,
                                      const ProjectFileMap& files) {
  std::vector<std::string> reasons(items.size());
  std::map<std::string_view, std::vector<size_t>> byPath;
  for (size_t i = 0; i < items.size(); ++i) byPath[items[i].path].push_back(i);
  std::string text;
  for (const auto& [path, indices] : byPath) {
    const auto file = files.find(path);
    if (file == files.end() || !readFileText(path, text)) continue;
    std::vector<int32_t> lines;
    for (size_t i : indices) lines.push_back(items[i].lineStart);
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    const std::vector<LineExplanation> explained =
        explainText(text, profileForLanguage(file->second.language), lines);
    for (size_t i : indices) {
      for (const LineExplanation& e : explained) {
        if (e.line == items[i].lineStart) reasons[i] = shortReason(e);
      }
    }
  }
  return reasons;
}

std::string buildAuditReasonsMessage(const std::vector<std::string>& reasons) {
  std::string out = "{\"type\":\"setAuditReasons\",\"reasons\":[";
  for (size_t i = 0; i < reasons.size(); ++i) {
    if (i > 0) out += ',';
    appendString(out, reasons[i]);
  }
  out += "]}";
  return out;
}

}  // namespace varnholt_app
