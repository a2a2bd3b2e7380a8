#include "protocol/explain_message.h"

#include "protocol/json.h"

namespace varnholt_app {

namespace {

void appendMember(std::string& out, const char* key, double value) {
  out += ",\"";
  out += key;
  out += "\":";
  appendShortest(out, value);
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
    appendJsonString(out, e.notScoredBecause);
    out += ",\"notScoredText\":";
    appendJsonString(out, e.notScoredText);
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
    appendJsonString(out, termName(t.kind));
    out += ",\"count\":";
    appendInt(out, t.count);
    appendMember(out, "value", t.value);
    out += ",\"words\":[";
    for (size_t i = 0; i < t.words.size(); ++i) {
      if (i > 0) out += ',';
      appendJsonString(out, t.words[i]);
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
  appendShortest(out, e.keywordTrend);
  appendMember(out, "token", e.tokenTrend);
  appendMember(out, "factor", e.trendFactor);
  out += "},\"depthFactor\":";
  appendShortest(out, e.depthFactor);
  out += ",\"spread\":{\"before\":";
  appendShortest(out, e.spreadBefore);
  appendMember(out, "after", e.spreadAfter);
  appendMember(out, "value", e.spread);
  appendMember(out, "factor", e.spreadFactor);
  appendNeighbours(out, "hotBefore", e.hotBefore);
  appendNeighbours(out, "hotAfter", e.hotAfter);
  out += "},\"reasons\":[";
  const std::vector<HeatReason> reasons = heatReasons(e);
  for (size_t i = 0; i < reasons.size(); ++i) {
    out += i > 0 ? ",{\"text\":" : "{\"text\":";
    appendJsonString(out, reasons[i].text);
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

std::string buildAuditReasonsMessage(const std::vector<std::string>& reasons) {
  std::string out = "{\"type\":\"setAuditReasons\",\"reasons\":[";
  for (size_t i = 0; i < reasons.size(); ++i) {
    if (i > 0) out += ',';
    appendJsonString(out, reasons[i]);
  }
  out += "]}";
  return out;
}

}  // namespace varnholt_app
