#include "cli/report_formats.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "base/utf.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

constexpr std::string_view kRuleId = "hot-line";
constexpr std::string_view kInformationUri = "https://github.com/varnholt/varnholt";

// Paths and line texts are bytes; every format here wants UTF-8.
std::string validUtf8(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? std::string(text) : utf16ToUtf8Lossy(utf8ToUtf16(text));
}

// Percent-encodes all but unreserved characters and "/", so that the result
// is a relative URI reference whatever the file is called.
std::string uriPath(std::string_view path) {
  std::string out;
  appendPercentEncoded(out, path, [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
  });
  return out;
}

std::string heatText(const Finding& f) {
  return "Hot line: raw heat " + formatFixed(f.heatRaw, 2) + ", heat " +
         formatFixed(f.projectHeat, 2) + " on the project's scale";
}

const char* sarifLevel(Severity s) {
  return s == Severity::Error ? "error" : s == Severity::Warning ? "warning" : "note";
}

std::string sarifResult(const Finding& f) {
  std::string out = "{\"ruleId\":\"";
  out += kRuleId;
  out += "\",\"level\":\"";
  out += sarifLevel(f.severity);
  out += "\",\"message\":{\"text\":";
  appendJsonString(out, heatText(f));
  out += "},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":";
  appendJsonString(out, uriPath(f.path));
  out += ",\"uriBaseId\":\"SRCROOT\"},\"region\":{\"startLine\":";
  appendInt(out, f.line);
  out += ",\"endLine\":";
  appendInt(out, f.line);
  out += "}}}],\"partialFingerprints\":{\"varnholtLine/v1\":\"";
  out += fingerprintText(f.fingerprint).view();
  out += "\"}}";
  return out;
}

// Only characters XML 1.0 allows, and blanks that attribute values keep.
void appendXmlEscaped(std::string& out, std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  const std::string valid = validUtf8(text);
  for (size_t i = 0; i < valid.size(); ++i) {
    const char c = valid[i];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += kReplacement;
        } else if (c == '\xEF' && i + 2 < valid.size() && valid[i + 1] == '\xBF' &&
                   (valid[i + 2] == '\xBE' || valid[i + 2] == '\xBF')) {
          out += kReplacement;  // U+FFFE and U+FFFF are no characters
          i += 2;
        } else {
          out += c;
        }
    }
  }
}

}  // namespace

// Valid UTF-8, quoted when needed, and never read as a formula: a spreadsheet
// evaluates a cell that starts with "=", "+", "-", "@", a tab or CR.
void appendCsvField(std::string& out, std::string_view bytes) {
  std::string text = validUtf8(bytes);
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    text.insert(text.begin(), '\'');
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

namespace {

// Hands the text on once it is large, so that a long report is never held whole.
void flushIfLarge(std::string& out, const ReportSink& sink) {
  if (out.size() < (size_t{1} << 20)) return;
  sink(out);
  out.clear();
}

const char* severityName(Severity s) {
  return s == Severity::Error ? "error" : s == Severity::Warning ? "warning" : "info";
}

}  // namespace

std::string folderFileUri(std::string_view absolutePath) {
  std::string path(absolutePath);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty() || path.back() != '/') path += '/';
  // "C:/x" becomes file:///C:/x; the drive colon stays as it is.
  std::string prefix = "file://";
  if (path.front() != '/') prefix += '/';
  if (path.size() > 1 && path[1] == ':')
    return prefix + path.substr(0, 2) + uriPath(path.substr(2));
  return prefix + uriPath(path);
}

std::string sarifReport(const FindingSet& set, const SarifRun& run) {
  std::string head =
      "{\"$schema\":\"https://json.schemastore.org/sarif-2.1.0.json\",\"version\":\"2.1.0\","
      "\"runs\":[{\"tool\":{\"driver\":{\"name\":\"varnholt-report\",\"version\":";
  appendJsonString(head, run.toolVersion);
  head += ",\"informationUri\":\"";
  head += kInformationUri;
  head += "\",\"rules\":[{\"id\":\"";
  head += kRuleId;
  head +=
      "\",\"name\":\"HotLine\",\"shortDescription\":{\"text\":\"Hot line\"},"
      "\"fullDescription\":{\"text\":\"A line that carries much of the codebase's control flow, "
      "operators, declarations and nesting.\"},"
      "\"help\":{\"text\":\"Hot lines are hard to read and to test. Split the condition or the "
      "expression, move nested blocks into functions, or return early. The level follows the "
      "line's heat on the project's 0..1 scale, the one of the file list: error from 0.75, "
      "warning from 0.6, note below.\"},"
      "\"defaultConfiguration\":{\"level\":\"warning\"},"
      "\"properties\":{\"tags\":[\"maintainability\",\"complexity\"]}}]}},"
      "\"originalUriBaseIds\":{\"SRCROOT\":{\"uri\":";
  appendJsonString(head, run.rootUri);
  head += "}},\"results\":[";

  std::string results;
  size_t listed = 0;
  const size_t budget = run.maxBytes > head.size() + 1024 ? run.maxBytes - head.size() - 1024 : 0;
  for (const Finding& f : set.findings) {
    if (listed == run.maxResults) break;
    const std::string result = sarifResult(f);
    if (results.size() + result.size() + 1 > budget) break;
    if (listed > 0) results += ',';
    results += result;
    ++listed;
  }

  std::string tail = "],\"invocations\":[{\"executionSuccessful\":true";
  if (listed < set.findings.size() || listed < set.qualified) {
    tail +=
        ",\"toolExecutionNotifications\":[{\"level\":\"warning\",\"descriptor\":{\"id\":"
        "\"results-cut\"},\"message\":{\"text\":";
    appendJsonString(tail, "Only the " + std::to_string(listed) + " hottest of " +
                             std::to_string(std::max(set.findings.size(), set.qualified)) +
                             " findings are listed, to stay within " +
                             std::to_string(run.maxResults) + " results and " +
                             std::to_string(run.maxBytes / 1'000'000) +
                             " MB a run. Raise --min-heat or lower --max-findings.");
    tail += "}}]";
  }
  tail += "}]}]}\n";
  return head + results + tail;
}

void writeCodeQualityReport(const FindingSet& set, const ReportSink& sink) {
  std::string out = "[";
  for (size_t i = 0; i < set.findings.size(); ++i) {
    const Finding& f = set.findings[i];
    out += i == 0 ? "\n" : ",\n";
    out += "{\"type\":\"issue\",\"check_name\":\"";
    out += kRuleId;
    out += "\",\"description\":";
    appendJsonString(out, heatText(f));
    out += ",\"categories\":[\"Complexity\"],\"severity\":\"";
    out += f.severity == Severity::Error     ? "critical"
           : f.severity == Severity::Warning ? "major"
                                             : "minor";
    out += "\",\"fingerprint\":\"";
    out += fingerprintText(f.fingerprint).view();
    out += "\",\"location\":{\"path\":";
    appendJsonString(out, f.path);
    out += ",\"lines\":{\"begin\":";
    appendInt(out, f.line);
    out += "}}}";
    flushIfLarge(out, sink);
  }
  out += "\n]\n";
  sink(out);
}

void writeCheckstyleReport(const FindingSet& set, const ReportSink& sink) {
  std::map<std::string_view, std::vector<const Finding*>> byFile;
  for (const Finding& f : set.findings) byFile[f.path].push_back(&f);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<checkstyle version=\"4.3\">\n";
  for (auto& [path, findings] : byFile) {
    std::sort(findings.begin(), findings.end(),
              [](const Finding* a, const Finding* b) { return a->line < b->line; });
    out += "<file name=\"";
    appendXmlEscaped(out, path);
    out += "\">\n";
    for (const Finding* f : findings) {
      out += "<error line=\"" + std::to_string(f->line) + "\" severity=\"";
      out += severityName(f->severity);
      out += "\" message=\"";
      appendXmlEscaped(out, heatText(*f));
      out += "\" source=\"varnholt.";
      out += kRuleId;
      out += "\"/>\n";
    }
    out += "</file>\n";
    flushIfLarge(out, sink);
  }
  out += "</checkstyle>\n";
  sink(out);
}

void writeCsvReport(const FindingSet& set, const ReportSink& sink) {
  std::string out = "path,line,heat_raw,heat,severity,fingerprint\r\n";
  for (const Finding& f : set.findings) {
    appendCsvField(out, f.path);
    out += ',' + std::to_string(f.line) + ',' + formatFixed(f.heatRaw, 2) + ',' +
           formatFixed(f.projectHeat, 4) + ',' + severityName(f.severity) + ',';
    out += fingerprintText(f.fingerprint).view();
    out += "\r\n";
    flushIfLarge(out, sink);
  }
  sink(out);
}

std::string csvByFileReport(const FindingSet& set) {
  struct Row {
    size_t count = 0;
    double heatSum = 0.0;
    const Finding* hottest = nullptr;
  };
  // Files in the order of their hottest line, which the findings give.
  std::vector<std::string_view> order;
  std::map<std::string_view, Row> rows;
  for (const Finding& f : set.findings) {
    Row& row = rows[f.path];
    if (row.count++ == 0) {
      row.hottest = &f;
      order.push_back(f.path);
    }
    row.heatSum += f.heatRaw;
  }
  std::string out = "path,findings,heat_raw_sum,hottest_line,hottest_heat_raw,severity\r\n";
  for (std::string_view path : order) {
    const Row& row = rows[path];
    appendCsvField(out, path);
    out += ',' + std::to_string(row.count) + ',' + formatFixed(row.heatSum, 2) + ',' +
           std::to_string(row.hottest->line) + ',' + formatFixed(row.hottest->heatRaw, 2) + ',' +
           severityName(row.hottest->severity) + "\r\n";
  }
  return out;
}

}  // namespace varnholt_app
