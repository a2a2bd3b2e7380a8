#include "cli/hotspot_report.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

#include "analysis/file_heat.h"
#include "cli/report_formats.h"
#include "history/history.h"
#include "history/hotspots.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

void write(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

std::string dateOrDash(int64_t seconds) { return seconds > 0 ? isoDate(seconds) : "-"; }

// The text of line `number` of `path`, blanks at its start left out.
std::string lineText(const std::string& path, int32_t number) {
  std::string text;
  if (!readFileText(path, text)) return {};
  size_t start = 0;
  for (int32_t line = 1; line < number && start != std::string::npos; ++line) {
    start = text.find('\n', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return {};
  std::string_view rest = std::string_view(text).substr(start);
  rest = rest.substr(0, std::min(rest.find_first_of("\r\n"), size_t{120}));
  rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
  return std::string(rest);
}

void printHeader(const History& history, const std::string& root, const HotspotOptions& options) {
  std::string out;
  if (options.format == HotspotFormat::Json) {
    out = "{\"type\":\"history\",\"history\":\"";
    out += history.state == HistoryState::Read ? "git" : "none";
    out += "\",\"reason\":\"";
    appendJsonEscaped(out, history.reason);
    out += "\",\"since\":";
    appendJsonDate(out, history.since);
    out += ",\"countsFrom\":";
    appendJsonDate(out, history.countsFrom);
    out += ",\"commits\":";
    appendInt(out, static_cast<int64_t>(history.commits));
    out += "}\n";
  } else if (options.format == HotspotFormat::Text) {
    out = printable(root) + "\n";
    if (history.state == HistoryState::None) {
      out += "no history: " + history.reason + "\n";
    } else {
      out += std::to_string(history.commits) + " commits since " + isoDate(history.since) +
             (history.reason.empty() ? "" : " (" + history.reason + ")") + "\n";
    }
  } else {
    out = "path,score,heat_percentile,change_percentile,raw_heat,changes,frequency,authors,"
          "lines_added,lines_deleted,last_change\n";
  }
  write(out);
  if (options.format != HotspotFormat::Json && history.state == HistoryState::None) {
    std::fprintf(stderr, "varnholt-report: no history: %s\n", history.reason.c_str());
  }
}

void printFiles(const std::vector<FileHotspot>& files, const HotspotOptions& options) {
  std::string out;
  if (options.format == HotspotFormat::Text && !files.empty()) {
    char heading[160];
    std::snprintf(heading, sizeof heading, "\nHotspot files\n%7s %6s %8s %8s  %-11s %s\n", "score", "heat",
                  "changes", "authors", "last change", "path");
    out += heading;
  }
  for (const FileHotspot& spot : files) {
    const FileHistory empty;
    const FileHistory& h = spot.history ? *spot.history : empty;
    static const char* const kNames[] = {"score",   "heatPercentile", "changePercentile",
                                         "heatRaw", "changes",        "frequency",
                                         "authors", "linesAdded",     "linesDeleted"};
    const std::string values[] = {formatFixed(spot.score, 4), formatFixed(spot.heatPercentile, 4),
                                  formatFixed(spot.changePercentile, 4), formatFixed(spot.file->heatRaw, 2),
                                  std::to_string(h.commits), formatFixed(h.frequency, 4),
                                  std::to_string(h.authors.size()), std::to_string(h.linesAdded),
                                  std::to_string(h.linesDeleted)};
    if (options.format == HotspotFormat::Json) {
      out += "{\"type\":\"hotspotFile\",\"path\":\"";
      appendJsonEscaped(out, spot.relativePath);
      out += '"';
      for (size_t k = 0; k < std::size(values); ++k) {
        out += ",\"";
        out += kNames[k];
        out += "\":";
        out += values[k];
      }
      out += ",\"lastChange\":";
      appendJsonDate(out, h.lastChange);
      out += "}\n";
    } else if (options.format == HotspotFormat::Csv) {
      appendCsvField(out, spot.relativePath);
      for (const std::string& value : values) {
        out += ',';
        out += value;
      }
      out += ',';
      if (h.lastChange > 0) out += isoDate(h.lastChange);
      out += '\n';
    } else {
      char row[160];
      std::snprintf(row, sizeof row, "%7s %6s %8d %8zu  %-11s ", formatFixed(spot.score, 3).c_str(),
                    formatFixed(spot.heatPercentile, 2).c_str(), h.commits, h.authors.size(),
                    dateOrDash(h.lastChange).c_str());
      out += row + printable(spot.relativePath) + "\n";
    }
  }
  write(out);
}

void printLines(const std::vector<LineHotspot>& lines, const HotspotOptions& options) {
  std::string out;
  if (options.format == HotspotFormat::Text && !lines.empty()) {
    char heading[160];
    std::snprintf(heading, sizeof heading, "\nHotspot lines\n%10s %9s %8s  %-11s %s\n", "hotspot", "raw heat",
                  "changes", "last change", "line");
    out += heading;
  }
  for (const LineHotspot& spot : lines) {
    if (options.format == HotspotFormat::Json) {
      out += "{\"type\":\"hotspotLine\",\"path\":\"";
      appendJsonEscaped(out, spot.relativePath);
      out += "\",\"line\":" + std::to_string(spot.line) + ",\"score\":" + formatFixed(spot.score, 2) +
             ",\"heatRaw\":" + formatFixed(spot.heatRaw, 2) + ",\"changes\":" +
             std::to_string(spot.history.changes) + ",\"lastChange\":";
      appendJsonDate(out, spot.history.lastChange);
      out += "}\n";
    } else {
      char row[160];
      std::snprintf(row, sizeof row, "%10s %9s %8u  %-11s ", formatFixed(spot.score, 2).c_str(),
                    formatFixed(spot.heatRaw, 2).c_str(), spot.history.changes,
                    dateOrDash(spot.history.lastChange).c_str());
      out += row + printable(spot.relativePath) + ":" + std::to_string(spot.line) + "\n" +
             std::string(16, ' ') + printable(lineText(spot.file->path, spot.line)) + "\n";
    }
  }
  write(out);
}

}  // namespace

bool hotspotWindow(const std::optional<std::string>& since, int64_t now, int64_t& start) {
  if (!since) {
    start = monthsBefore(now, 12);
    return true;
  }
  return parseSince(*since, now, start);
}

void printHotspotReport(const ProjectFileMap& files, const std::string& root, const HotspotOptions& options,
                        int64_t now) {
  HistoryOptions read;
  read.now = now;
  hotspotWindow(options.since, now, read.since);
  const History history = readHistory(root, read);
  printHeader(history, root, options);
  if (history.state == HistoryState::None) return;
  std::vector<FileHotspot> ranked = rankFileHotspots(files, history, root);
  if (options.format != HotspotFormat::Csv && ranked.size() > options.topFiles) {
    ranked.resize(options.topFiles);
  }
  printFiles(ranked, options);
  if (options.format != HotspotFormat::Csv) {
    printLines(topLineHotspots(files, history, root, options.topLines), options);
  }
}

std::string weighLinesByChanges(ProjectFileMap& files, const std::string& root, int64_t since, int64_t now) {
  const History history = readHistory(root, {now, since, {}});
  if (history.state == HistoryState::None) return "no history (" + history.reason + "): ranked by heat";
  for (auto& [path, file] : files) {
    const FileHistory* record = history.find(pathBelow(path, root));
    std::vector<double> weighed(file.lineHeatRaw.size(), 0.0);
    size_t i = 0;
    for (const LineRun& run : record ? record->runs : std::vector<LineRun>{}) {
      for (uint32_t k = 0; k < run.length && i < weighed.size(); ++k, ++i) {
        weighed[i] = file.lineHeatRaw[i] * run.changes;
      }
    }
    double total = 0.0;
    for (double heat : weighed) total += heat;
    file.lineHeatRaw = LineHeats(weighed);
    file.heatRaw = total;
  }
  return {};
}

}  // namespace varnholt_app

namespace varnholt_app {

bool runHotspots(const HotspotArgs& args, ProjectFileMap& files, const std::string& root,
                 HotspotFormat format, size_t topFiles) {
  if (!args.report && !args.rankLines) return false;
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  if (args.report) {
    printHotspotReport(files, root, {format, topFiles, 30, args.since}, now);
    return true;
  }
  int64_t since = 0;
  hotspotWindow(args.since, now, since);
  const std::string note = weighLinesByChanges(files, root, since, now);
  if (!note.empty()) std::fprintf(stderr, "varnholt-report: %s\n", printable(note).c_str());
  return false;
}

}  // namespace varnholt_app
