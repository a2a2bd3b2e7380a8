// varnholt-report: the whole analysis of one folder, printed for a terminal,
// as the program's own page messages (--json), or as raw figures (--dump).

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "base/absolute_folder.h"
#include "base/native_string.h"
#include "base/utf.h"
#include "cli/ci_run.h"
#include "cli/hotspot_report.h"
#include "model/model.h"
#include "project/file_scope.h"
#include "project/project_analysis.h"
#include "project/walk.h"
#include "analysis/explain.h"
#include "analysis/file_heat.h"
#include "base/file_io.h"
#include "project/scan_rules.h"
#include "protocol/explain_message.h"
#include "protocol/json.h"
#include "protocol/messages.h"
#include "protocol/paths.h"

namespace varnholt_app {
namespace {

constexpr const char* kUsage =
    "usage: varnholt-report [--top N] [--json | --dump | --format FORMAT] [--by-file]\n"
    "                       [--min-heat RAW] [--max-findings N] [--changed-since REV]\n"
    "                       [--fail-above RAW] [--baseline FILE] [--write-baseline FILE]\n"
    "                       [--tolerance PERCENT[,RAW]]\n"
    "                       [--scope all|code|nontest] [--rank total|density] [FOLDER]\n"
    "       varnholt-report --hotspots [--since DATE|N.months] [--json | --format csv] [FOLDER]\n"
    "       varnholt-report --explain FILE:LINE [--json]\n";

constexpr const char* kHelp =
    "Shows where the source code below FOLDER (default: the current folder) is hot:\n"
    "the hottest files and the hottest lines of the whole codebase.\n"
    "\n"
    "  --top N    list the N hottest files (default 20)\n"
    "  --json     print the project and audit messages the program would send\n"
    "             to its page, one per line\n"
    "  --dump     print the raw heat of every analysed file, one JSON object per\n"
    "             line in path order, then the line total\n"
    "  --format F text (the default), json, dump, or for CI tools: sarif (SARIF\n"
    "             2.1.0, GitHub code scanning), codeclimate (GitLab Code Quality),\n"
    "             checkstyle (XML) or csv (one row per line; --by-file: per file)\n"
    "  --scope S  the files that take part: code (the default; leaves out plain\n"
    "             text, JSON, YAML, TOML, HTML and CSS), all, or nontest (code\n"
    "             without tests and generated files); --json and --dump take\n"
    "             all files unless --scope is given\n"
    "  --rank R   rank the hottest files by total heat (the default) or by\n"
    "             density: raw heat per line, over at least 50 lines\n"
    "\n"
    "Findings, for the CI formats and the gate: the hottest lines of the codebase\n"
    "as the audit picks them, paths relative to FOLDER with \"/\".\n"
    "  --max-findings N      at most N lines (default 30)\n"
    "  --min-heat RAW        only lines with at least this raw heat (and above 0)\n"
    "  --changed-since REV   only lines added or changed since the git revision REV,\n"
    "                        and files git does not track yet (also in the text\n"
    "                        report)\n"
    "With a CI format or --changed-since, files reached through a link that leads\n"
    "outside FOLDER are left out.\n"
    "Severity from the line's raw heat on the project's 0..1 scale (log scale\n"
    "against the 95th percentile of the files' raw heat, as for files): error\n"
    "from 0.75 (Code Quality: critical), warning from 0.6 (major), below that\n"
    "note (SARIF), info (Checkstyle, CSV) or minor (Code Quality).\n"
    "\n"
    "Gate:\n"
    "  --fail-above RAW      fail when a line (a changed one with --changed-since)\n"
    "                        has a raw heat above RAW; with --baseline, only a\n"
    "                        line new or hotter than in the baseline\n"
    "  --write-baseline FILE write the findings to FILE as the accepted state\n"
    "  --baseline FILE       fail when a finding is new or hotter than in FILE;\n"
    "                        lines are matched by path, text and occurrence, so\n"
    "                        lines that only moved still match\n"
    "  --tolerance P[,RAW]   a recorded line is hotter only beyond P percent of\n"
    "                        its recorded raw heat and at least RAW (default 5,1)\n"
    "\n"
    "Exit codes: 0 clean, 1 the folder (or the baseline to write) could not be\n"
    "read or written, 2 usage error (also a bad baseline or git revision),\n"
    "3 the gate failed.\n"
    "\n"
    "Why a line is hot:\n"
    "  --explain FILE:LINE   every term and factor of that line's heat, largest\n"
    "                        first (--json: one JSON object with every figure)\n"
    "  --dump --explain      the dump with the terms of every line (\"explain\")\n"
    "\n"
    "  --help     show this help\n"
    "  --version  show the version\n"
    "\n"
    "Set NO_COLOR to print the report without colours.\n";

enum class Mode { Report, Json, Dump };

struct Options {
  Mode mode = Mode::Report;
  size_t top = 20;
  std::optional<NativeString> folder;
  bool help = false;
  bool version = false;
  std::optional<FileScope> scope;  // by default code, but all for --json and --dump
  bool rankByDensity = false;
  HotspotArgs hotspots;
  CiOptions ci;
  bool explainDump = false;                   // --explain without FILE:LINE
  std::optional<NativeString> explainFile;    // --explain FILE:LINE
  int32_t explainLine = 0;
};

struct UsageError {
  std::string message;
};

std::string displayArgument(const NativeString& argument) { return nativeToUtf8Lossy(argument); }

// The value of `name` given as "name VALUE" or "name=VALUE"; nothing when
// args[i] is another option.
std::optional<std::string> valueOf(const std::vector<NativeString>& args, size_t& i,
                                   std::string_view name, std::string_view needs) {
  const std::string arg = displayArgument(args[i]);
  if (arg == name) {
    if (i + 1 >= args.size()) throw UsageError{std::string(name) + " needs " + std::string(needs)};
    return displayArgument(args[++i]);
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
    return arg.substr(name.size() + 1);
  }
  return std::nullopt;
}

// "--explain" takes FILE:LINE when the next argument ends in ":" and a
// line number; alone it asks the dump for every line's terms.
void parseExplainTarget(const std::vector<NativeString>& args, size_t& i, Options& options) {
  if (i + 1 < args.size()) {
    const std::string next = displayArgument(args[i + 1]);
    const size_t colon = next.rfind(':');
    if (colon != std::string::npos && colon > 0 && colon + 1 < next.size() &&
        next.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
      int32_t line = 0;
      const auto [end, error] = std::from_chars(next.data() + colon + 1, next.data() + next.size(), line);
      if (error != std::errc() || end != next.data() + next.size() || line < 1) {
        throw UsageError{"--explain needs a line number from 1, not \"" + next.substr(colon + 1) + "\""};
      }
      const NativeString& raw = args[++i];
      // The colon is ASCII, so it sits at the same place counted from the end.
      options.explainFile = raw.substr(0, raw.size() - (next.size() - colon));
      options.explainLine = line;
      return;
    }
  }
  options.explainDump = true;
}

// Parses the arguments after the program name; throws UsageError.
Options parseArguments(const std::vector<NativeString>& args) {
  Options options;
  bool modeGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string arg = displayArgument(args[i]);
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (options.folder) throw UsageError{"more than one folder given"};
      if (arg.empty()) throw UsageError{"the folder name is empty"};
      options.folder = args[i];
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--json" || arg == "--dump") {
      const Mode mode = arg == "--json" ? Mode::Json : Mode::Dump;
      if (modeGiven && options.mode != mode) throw UsageError{"--json and --dump exclude each other"};
      options.mode = mode;
      modeGiven = true;
    } else if (arg == "--explain") {
      parseExplainTarget(args, i, options);
    } else if (parseCiOption(args, i, options.ci) || parseHotspotOption(args, i, options.hotspots)) {
    } else if (auto given = valueOf(args, i, "--scope", "all, code or nontest")) {
      const std::string& value = *given;
      const std::optional<FileScope> scope = parseFileScope(value);
      if (!scope) throw UsageError{"--scope needs all, code or nontest, not \"" + value + "\""};
      options.scope = *scope;
    } else if (auto rank = valueOf(args, i, "--rank", "total or density")) {
      if (*rank != "total" && *rank != "density") {
        throw UsageError{"--rank needs total or density, not \"" + *rank + "\""};
      }
      options.rankByDensity = *rank == "density";
    } else if (auto number = valueOf(args, i, "--top", "a number")) {
      const std::string& value = *number;
      size_t top = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), top);
      if (value.empty() || error != std::errc() || end != value.data() + value.size()) {
        throw UsageError{"--top needs a number, not \"" + value + "\""};
      }
      options.top = top;
    } else {
      throw UsageError{"unknown option " + arg};
    }
  }
  if (options.ci.format) {
    const ReportFormat f = *options.ci.format;
    const Mode mode = f == ReportFormat::Json   ? Mode::Json
                      : f == ReportFormat::Dump ? Mode::Dump
                                                : Mode::Report;
    if (modeGiven && mode != options.mode) {
      throw UsageError{"--format and --json or --dump exclude each other"};
    }
    options.mode = mode;
  }
  if (options.explainFile && (options.mode == Mode::Dump || options.folder || options.ci.format)) {
    throw UsageError{"--explain FILE:LINE takes only --json"};
  }
  if (options.explainDump && options.mode != Mode::Dump) {
    throw UsageError{"--explain needs FILE:LINE, or --dump"};
  }
  return options;
}

bool isTerminal(FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) != 0;
#endif
}

void writeBytes(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

// Bytes that would steer a terminal (escape sequences, carriage returns)
// are shown as "?".
std::string printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return out;
}

std::string withGrouping(int64_t value) {
  const std::string digits = std::to_string(value);
  const size_t lead = value < 0 ? 1 : 0;
  std::string out = digits.substr(0, lead);
  for (size_t i = lead; i < digits.size(); ++i) {
    if (i > lead && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// The path below the folder, for display; the full path for anything else.
std::string relativePath(const std::string& path, const std::string& root) {
  if (path.size() > root.size() && path.compare(0, root.size(), root) == 0) {
    size_t start = root.size();
    while (start < path.size() && (path[start] == '/' || path[start] == '\\')) ++start;
    if (start > root.size() || root.empty() || root.back() == '/' || root.back() == '\\') {
      return path.substr(start);
    }
  }
  return path;
}

class Bars {
 public:
  explicit Bars(bool colour) : colour_(colour) {}

  // A ten-cell bar for a heat of 0..1, coloured from blue to red.
  std::string bar(double heat01) const {
    const double heat = std::clamp(heat01, 0.0, 1.0);
    const int cells = static_cast<int>(heat * 10.0 + 0.5);
    std::string out;
    if (colour_) {
      static const int kPalette[] = {27, 33, 39, 45, 49, 154, 220, 214, 208, 202, 196};
      out += "\x1b[38;5;" + std::to_string(kPalette[static_cast<int>(heat * 10.0)]) + "m";
    }
    for (int i = 0; i < 10; ++i) out += i < cells ? (colour_ ? "\xe2\x96\x88" : "#") : " ";
    if (colour_) out += "\x1b[0m";
    return out;
  }

 private:
  bool colour_;
};

std::string shortest(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::vector<const ProjectFile*> filesInPathOrder(const ProjectFileMap& files) {
  std::vector<const ProjectFile*> sorted;
  sorted.reserve(files.size());
  for (const auto& entry : files) sorted.push_back(&entry.second);
  std::sort(sorted.begin(), sorted.end(),
            [](const ProjectFile* a, const ProjectFile* b) { return a->path < b->path; });
  return sorted;
}

// The terms of every line of one file, as the dump's "explain" member.
// Written in slices, so that a file of a million short lines never holds
// all its explanations, or all their text, at once.
void writeDumpExplanations(const ProjectFile& file) {
  constexpr size_t kSlice = 32768;
  std::string text;
  std::string out = ",\"explain\":[";
  if (readFileText(file.path, text)) {
    const size_t count = countSplitLines(text);
    const LanguageProfile& profile = profileForLanguage(file.language);
    std::vector<int32_t> lines;
    for (size_t first = 0; first < count; first += kSlice) {
      lines.clear();
      for (size_t i = first; i < std::min(count, first + kSlice); ++i) {
        lines.push_back(static_cast<int32_t>(i + 1));
      }
      for (const LineExplanation& e : explainText(text, profile, lines)) {
        if (e.line > 1) out += ',';
        appendExplanationJson(out, e);
      }
      writeBytes(out);
      out.clear();
    }
  }
  writeBytes(out + ']');
}

void printDump(const ProjectAnalysis& analysis, bool explain) {
  std::string line;
  for (const ProjectFile* file : filesInPathOrder(analysis.model.files)) {
    line = "{\"path\":\"";
    appendJsonEscaped(line, file->path);
    line += "\",\"language\":";
    appendInt(line, static_cast<int32_t>(file->language));
    line += ",\"heatRaw\":";
    line += shortest(file->heatRaw);
    line += ",\"lines\":[";
    for (size_t i = 0; i < file->lineHeatRaw.size(); ++i) {
      if (i > 0) line += ',';
      line += shortest(file->lineHeatRaw[i]);
    }
    line += ']';
    if (explain) {
      writeBytes(line);
      line.clear();
      writeDumpExplanations(*file);
    }
    line += "}\n";
    writeBytes(line);
  }
  line = "{\"totalLOC\":";
  appendInt(line, analysis.totalLines);
  line += "}\n";
  writeBytes(line);
}

void printJson(const ProjectAnalysis& analysis) {
  writeBytes(buildProjectMessage(analysis.model.files, std::max(analysis.totalLines, 0)));
  writeBytes("\n");
  writeBytes(buildAuditMessage(selectAuditItems(analysis.model.files, kAuditItemLimit)));
  writeBytes("\n");
  writeBytes(buildFileLinesMessage(analysis.model.files));
  writeBytes("\n");
}

// The files of a run that take part, after --scope.
struct ScopeCut {
  size_t analysedFiles = 0;
  std::string note;  // for the report's header; empty for all files
};

// Drops the files outside `scope`, so that the ranking, the audit and the
// findings all see the same files.
ScopeCut narrowToScope(ProjectAnalysis& analysis, FileScope scope) {
  ProjectFileMap& files = analysis.model.files;
  ScopeCut cut{files.size(), {}};
  if (scope == FileScope::All) return cut;
  std::erase_if(files, [scope](const auto& entry) { return !fileInScope(entry.second, scope); });
  cut.note = ", " + withGrouping(static_cast<int64_t>(files.size())) + " in scope (" +
             (scope == FileScope::Code ? "code" : "nontest") + ")";
  return cut;
}

// `shown` is the files the report lists: all of them, or with
// --changed-since only the changed ones, their other lines NaN.
void printReport(const ProjectAnalysis& analysis, const ProjectFileMap& shown,
                 const std::string& root, size_t top, bool byDensity, bool colour,
                 const ScopeCut& cut) {
  const ProjectFileMap& files = shown;
  const Bars bars(colour);
  const char* bold = colour ? "\x1b[1m" : "";
  const char* plain = colour ? "\x1b[0m" : "";
  std::string out;
  out += std::string(bold) + printable(std::string(folderDisplayName(root))) + plain + "  " + printable(root) +
         "\n";
  out += withGrouping(static_cast<int64_t>(cut.analysedFiles)) + " files analysed, " +
         withGrouping(analysis.totalLines) + " lines" + cut.note + "\n";
  writeBytes(out);

  std::vector<const ProjectFile*> hottest = filesInPathOrder(files);
  // Hottest first; equal heat keeps path order.
  std::stable_sort(hottest.begin(), hottest.end(),
                   [byDensity](const ProjectFile* a, const ProjectFile* b) {
                     return byDensity ? heatDensity(*a) > heatDensity(*b) : a->heatRaw > b->heatRaw;
                   });
  if (hottest.size() > top) hottest.resize(top);
  if (!hottest.empty()) {
    const ProjectHeatScale scale = projectHeatScale(analysis.model.files);
    char heading[128];
    std::snprintf(heading, sizeof heading, "%-14s%6s %14s%s  %s", "", "heat", "raw heat",
                  byDensity ? "   per line" : "", "path");
    out = "\n" + std::string(bold) + (byDensity ? "Densest files" : "Hottest files") + plain +
          "\n" + heading + "\n";
    for (const ProjectFile* file : hottest) {
      const double heat = scale.heat01(file->heatRaw);
      char figures[96];
      std::snprintf(figures, sizeof figures, "  %s %14s", formatFixed(heat, 4).c_str(),
                    formatFixed(file->heatRaw, 2).c_str());
      std::string perLine;
      if (byDensity) {
        perLine = formatFixed(heatDensity(*file), 2);
        perLine.insert(0, 11 - std::min<size_t>(9, perLine.size()), ' ');
      }
      out += "  " + bars.bar(heat) + figures + perLine + "  " +
             printable(relativePath(file->path, root)) + "\n";
    }
    writeBytes(out);
  }

  std::vector<AuditItem> items = selectAuditItems(files, kAuditItemLimit);
  // Lines outside the changes (NaN) come last and are not listed.
  std::erase_if(items, [](const AuditItem& item) { return std::isnan(item.cv); });
  if (!items.empty()) {
    char heading[128];
    std::snprintf(heading, sizeof heading, "%-14s%21s  %s", "", "raw heat", "line");
    out = "\n" + std::string(bold) + "Hottest lines" + plain + "\n" + heading + "\n";
    // Bars against the hottest line, which comes first.
    const double hottestLine = items.front().cv > 0 ? items.front().cv : 1.0;
    for (const AuditItem& item : items) {
      char figures[64];
      std::snprintf(figures, sizeof figures, "  %21s  ", formatFixed(item.cv, 2).c_str());
      std::string_view preview = item.preview;
      preview.remove_prefix(std::min(preview.find_first_not_of(' '), preview.size()));
      out += "  " + bars.bar(item.cv / hottestLine) + figures +
             printable(relativePath(item.path, root)) + ":" + std::to_string(item.lineStart) +
             "\n" + std::string(16, ' ') + printable(preview) + "\n";
    }
    writeBytes(out);
  }
}

// --explain FILE:LINE: the breakdown of one line, largest contribution first.
int printExplanation(const Options& options, bool json, bool colour) {
  const NativeString& path = *options.explainFile;
  const std::string shown = printable(nativeToUtf8Lossy(path));
  std::error_code statError;
  if (std::filesystem::is_directory(std::filesystem::path(path), statError)) {
    std::fprintf(stderr, "varnholt-report: %s is a folder, not a file\n", shown.c_str());
    return 1;
  }
  std::string text;
  if (!readWholeFile(path, text, kFileWindowBytes)) {
    std::fprintf(stderr, "varnholt-report: %s: cannot be read\n", shown.c_str());
    return 1;
  }
  const std::string name = nativeToUtf8Lossy(std::filesystem::path(path).filename().native());
  const LanguageId language =
      languageForExtension(extensionOf(name)).value_or(LanguageId::PlainText);
  const std::vector<LineExplanation> found =
      explainText(text, profileForLanguage(language), {options.explainLine});
  if (found.empty()) {
    std::fprintf(stderr, "varnholt-report: %s has no line %d\n", shown.c_str(),
                 options.explainLine);
    return 1;
  }
  const LineExplanation& e = found.front();
  std::string out;
  if (json) {
    out = "{\"path\":\"";
    appendJsonEscaped(out, nativeToUtf8Lossy(path));
    out += "\",\"language\":";
    appendInt(out, static_cast<int32_t>(language));
    out += ",\"explanation\":";
    appendExplanationJson(out, e);
    out += "}\n";
    writeBytes(out);
    return 0;
  }
  const char* bold = colour ? "\x1b[1m" : "";
  const char* plain = colour ? "\x1b[0m" : "";
  std::string_view source = splitLines(text)[static_cast<size_t>(e.line - 1)];
  source.remove_prefix(std::min(source.find_first_not_of(" \t"), source.size()));
  // At most 140 bytes, never ending inside a character.
  if (source.size() > 140) {
    size_t cut = 0;
    char32_t codePoint = 0;
    for (size_t next; (next = cut + decodeUtf8At(source, cut, codePoint)) <= 140;) cut = next;
    source = source.substr(0, cut);
  }
  out = std::string(bold) + shown + ":" + std::to_string(e.line) + "  heat " +
        formatFixed(e.heat, 2) + plain + "\n    " + printable(source) + "\n";
  if (!e.scored) {
    out += "  not scored: " + e.notScoredText + "\n";
    writeBytes(out);
    return 0;
  }
  out += "  base heat " + formatFixed(e.heatBase, 2) + " from complexity " +
         formatFixed(e.complexity, 4) + "; intensity " + formatFixed(e.intensity, 3) +
         (e.intensity > 0 ? " lets its surroundings lift it\n" : ", so nothing around it counts\n");
  for (const HeatReason& r : heatReasons(e)) {
    char figures[48];
    std::snprintf(figures, sizeof figures, "  %9s  ", formatFixed(r.points, 2).c_str());
    out += figures + r.text;
    if (r.factor > 0) out += "  \u00d7" + formatFixed(r.factor, 3);
    for (size_t k = 0; k < r.lines.size(); ++k) {
      out += (k == 0 ? " (line " : ", ") + std::to_string(r.lines[k]);
    }
    out += r.lines.empty() ? "\n" : ")\n";
  }
  writeBytes(out);
  return 0;
}

// Everything printed reached stdout; a full disk or a closed pipe is a
// failed run, not a clean one.
int withOutputChecked(int code) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
  std::fprintf(stderr, "varnholt-report: cannot write the report\n");
  return 1;
}

// One line on stderr, rewritten in place while the analysis runs.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) : enabled_(enabled), start_(Clock::now()) {}

  void update(const AnalysisProgress& progress) {
    if (!enabled_) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const double mbPerSecond =
        seconds > 0 ? static_cast<double>(progress.bytesDone) / 1e6 / seconds : 0.0;
    std::fprintf(stderr, "\ranalysing: %zu of %zu files, %.1f MB/s   ", progress.filesDone,
                 progress.filesTotal, mbPerSecond);
    std::fflush(stderr);
    shown_ = true;
  }

  void clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_;
};

// Empty when the folder can be listed; else why not.
std::string folderProblem(const NativeString& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(fs::path(folder), error);
  if (error || !fs::exists(status)) return "no such folder";
  if (!fs::is_directory(status)) return "not a folder";
  fs::directory_iterator listing(fs::path(folder), error);
  if (error) return "cannot be read (" + error.message() + ")";
  return {};
}

int run(const std::vector<NativeString>& args) {
  Options options;
  try {
    options = parseArguments(args);
  } catch (const UsageError& usage) {
    std::fprintf(stderr, "varnholt-report: %s (see --help)\n", usage.message.c_str());
    return 2;
  } catch (const std::string& usage) {
    std::fprintf(stderr, "varnholt-report: %s (see --help)\n", usage.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    std::fputs(kHotspotHelp, stdout);
    return withOutputChecked(0);
  }
  if (options.version) {
    std::fputs("varnholt-report " VARNHOLT_VERSION "\n", stdout);
    return withOutputChecked(0);
  }

  if (options.explainFile) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    if (isTerminal(stdout)) SetConsoleOutputCP(CP_UTF8);
#endif
    const bool json = options.mode == Mode::Json;
    const int code = printExplanation(options, json,
                                      !json && isTerminal(stdout) && std::getenv("NO_COLOR") == nullptr);
    return withOutputChecked(code);
  }

  const NativeString folder = absoluteFolder(options.folder.value_or(asciiToNative(".")));
  const std::string folderUtf8 = nativeToUtf8Lossy(folder);
  if (const std::string problem = folderProblem(folder); !problem.empty()) {
    std::fprintf(stderr, "varnholt-report: %s: %s\n", printable(folderUtf8).c_str(),
                 problem.c_str());
    return 1;
  }
  CiInputs ciInputs;
  if (std::string problem; !prepareCi(options.ci, folderUtf8, ciInputs, problem)) {
    std::fprintf(stderr, "varnholt-report: %s\n", printable(problem).c_str());
    return 2;
  }

#ifdef _WIN32
  // The messages and the dump are UTF-8 bytes with "\n" line ends, as they are.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const bool textReport = options.ci.format.value_or(ReportFormat::Text) == ReportFormat::Text;
  const bool colour = options.mode == Mode::Report && textReport && isTerminal(stdout) &&
                      std::getenv("NO_COLOR") == nullptr;
#ifdef _WIN32
  if (isTerminal(stdout)) SetConsoleOutputCP(CP_UTF8);
  if (colour) {
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
      SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
#endif

  ProgressLine progress(isTerminal(stderr));
  AnalyzeOptions analyzeOptions;
  analyzeOptions.progress = [&](const AnalysisProgress& p) { progress.update(p); };
  ProjectAnalysis analysis;
  try {
    analysis = analyzeProject(folder, analyzeOptions);
  } catch (const std::exception& error) {
    progress.clear();
    std::fprintf(stderr, "varnholt-report: %s: %s\n", printable(folderUtf8).c_str(),
                 printable(error.what()).c_str());
    return 1;
  }
  progress.clear();
  if (keepsInsideFolder(options.ci)) dropFilesOutside(analysis.model.files, folder);
  // The page's own messages and the dump mirror the program, which applies
  // the scope on the page: they keep every file unless asked otherwise.
  const FileScope defaultScope =
      options.mode == Mode::Report || options.hotspots.report ? FileScope::Code : FileScope::All;
  const ScopeCut scopeCut = narrowToScope(analysis, options.scope.value_or(defaultScope));
  const HotspotFormat hotspotFormat = options.mode == Mode::Json ? HotspotFormat::Json
                                      : options.ci.format == ReportFormat::Csv ? HotspotFormat::Csv
                                                                                : HotspotFormat::Text;
  if (runHotspots(options.hotspots, analysis.model.files, folderUtf8, hotspotFormat, options.top)) {
    return withOutputChecked(0);
  }

  switch (options.mode) {
    case Mode::Json:
      printJson(analysis);
      break;
    case Mode::Dump:
      printDump(analysis, options.explainDump);
      break;
    case Mode::Report:
      if (textReport && ciInputs.changed) {
        const ProjectFileMap changed =
            changedPart(analysis.model.files, folderUtf8, *ciInputs.changed);
        ScopeCut cut = scopeCut;
        cut.note += ", " + withGrouping(static_cast<int64_t>(changed.size())) +
                    " changed since " + printable(*options.ci.changedSince);
        printReport(analysis, changed, folderUtf8, options.top, options.rankByDensity, colour, cut);
      } else if (textReport) {
        printReport(analysis, analysis.model.files, folderUtf8, options.top, options.rankByDensity,
                    colour, scopeCut);
      }
      break;
  }
  const int code =
      finishCi(options.ci, ciInputs, analysis.model.files, folderUtf8, VARNHOLT_VERSION);
  return withOutputChecked(code);
}

}  // namespace
}  // namespace varnholt_app

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<varnholt_app::NativeString> args(argv + 1, argv + argc);
  return varnholt_app::run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<varnholt_app::NativeString> args(argv + 1, argv + argc);
  return varnholt_app::run(args);
}
#endif
