#include "cli/report_options.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

#include "base/failure.h"

namespace varnholt_app {

const char* const kReportUsage =
    "usage: varnholt-report [--top N] [--json | --dump | --format FORMAT] [--by-file]\n"
    "                       [--min-heat RAW] [--max-findings N] [--changed-since REV]\n"
    "                       [--fail-above RAW] [--baseline FILE] [--write-baseline FILE]\n"
    "                       [--tolerance PERCENT[,RAW]]\n"
    "                       [--scope all|code|nontest] [--rank total|density] [FOLDER]\n"
    "       varnholt-report --hotspots [--since DATE|N.months] [--json | --format csv] [FOLDER]\n"
    "       varnholt-report --explain FILE:LINE [--json]\n";

const char* const kReportHelp =
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

namespace {

struct FormatName {
  const char* name;
  ReportFormat format;
};
constexpr FormatName kFormats[] = {
    {"text", ReportFormat::Text},
    {"json", ReportFormat::Json},
    {"dump", ReportFormat::Dump},
    {"sarif", ReportFormat::Sarif},
    {"codeclimate", ReportFormat::CodeQuality},
    {"checkstyle", ReportFormat::Checkstyle},
    {"csv", ReportFormat::Csv},
};

std::string displayArgument(const NativeString& argument) { return nativeToUtf8Lossy(argument); }

// The value of `name` given as "name VALUE" or "name=VALUE"; nothing when
// args[i] is another option.
std::optional<std::string> valueOf(const std::vector<NativeString>& args, size_t& i,
                                   std::string_view name, std::string_view needs = "a value") {
  const std::string arg = displayArgument(args[i]);
  if (arg == name) {
    if (i + 1 >= args.size()) throw Failure(std::string(name) + " needs " + std::string(needs));
    return displayArgument(args[++i]);
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
    return arg.substr(name.size() + 1);
  }
  return std::nullopt;
}

// As valueOf, for a file name that must reach the system unchanged.
std::optional<NativeString> pathValue(const std::vector<NativeString>& args, size_t& i,
                                      std::string_view name) {
  const size_t at = i;
  const std::optional<std::string> value = valueOf(args, i, name);
  if (!value) return std::nullopt;
  if (value->empty()) throw Failure(std::string(name) + " needs a file name");
  if (i > at) return args[i];
  return args[i].substr(name.size() + 1);
}

double heatValue(std::string_view name, const std::string& value) {
  double out = 0.0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), out);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
      !std::isfinite(out) || out < 0) {
    throw Failure(std::string(name) + " needs a raw heat of 0 or more, not \"" + value + "\"");
  }
  return out;
}

size_t countValue(std::string_view name, const std::string& value) {
  size_t n = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || error != std::errc() || end != value.data() + value.size()) {
    throw Failure(std::string(name) + " needs a number, not \"" + value + "\"");
  }
  return n;
}

ReportFormat formatValue(const std::string& value) {
  for (const FormatName& f : kFormats) {
    if (value == f.name) return f.format;
  }
  throw Failure("unknown format \"" + value +
                "\" (text, json, dump, sarif, codeclimate, checkstyle or csv)");
}

// "--explain" takes FILE:LINE when the next argument ends in ":" and a
// line number; alone it asks the dump for every line's terms.
void parseExplainTarget(const std::vector<NativeString>& args, size_t& i, ReportOptions& options) {
  if (i + 1 < args.size()) {
    const std::string next = displayArgument(args[i + 1]);
    const size_t colon = next.rfind(':');
    if (colon != std::string::npos && colon > 0 && colon + 1 < next.size() &&
        next.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
      int32_t line = 0;
      const auto [end, error] = std::from_chars(next.data() + colon + 1, next.data() + next.size(), line);
      if (error != std::errc() || end != next.data() + next.size() || line < 1) {
        throw Failure("--explain needs a line number from 1, not \"" + next.substr(colon + 1) + "\"");
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

// The options that pick findings and the gate; false when args[i] is none of them.
bool parseCiOption(const std::vector<NativeString>& args, size_t& i, CiOptions& ci) {
  if (displayArgument(args[i]) == "--by-file") {
    ci.byFile = true;
  } else if (auto format = valueOf(args, i, "--format")) {
    const ReportFormat chosen = formatValue(*format);
    if (ci.format && *ci.format != chosen) throw Failure("more than one format given");
    ci.format = chosen;
  } else if (auto minHeat = valueOf(args, i, "--min-heat")) {
    ci.minHeat = heatValue("--min-heat", *minHeat);
  } else if (auto failAbove = valueOf(args, i, "--fail-above")) {
    ci.failAbove = heatValue("--fail-above", *failAbove);
  } else if (auto tolerance = valueOf(args, i, "--tolerance")) {
    // PERCENT or PERCENT,RAW
    const size_t comma = tolerance->find(',');
    std::string percent = tolerance->substr(0, comma);
    if (!percent.empty() && percent.back() == '%') percent.pop_back();
    ci.tolerance.percent = heatValue("--tolerance", percent);
    if (comma != std::string::npos) {
      ci.tolerance.raw = heatValue("--tolerance", tolerance->substr(comma + 1));
    }
  } else if (auto count = valueOf(args, i, "--max-findings")) {
    ci.maxFindings = countValue("--max-findings", *count);
  } else if (auto revision = valueOf(args, i, "--changed-since")) {
    if (revision->empty() || revision->front() == '-') {
      throw Failure("--changed-since needs a git revision, not \"" + *revision + "\"");
    }
    ci.changedSince = *revision;
  } else if (auto baseline = pathValue(args, i, "--baseline")) {
    ci.baseline = *baseline;
  } else if (auto written = pathValue(args, i, "--write-baseline")) {
    ci.writeBaseline = *written;
  } else {
    return false;
  }
  return true;
}

}  // namespace

ReportOptions parseReportOptions(const std::vector<NativeString>& args) {
  ReportOptions options;
  bool modeGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string arg = displayArgument(args[i]);
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (options.folder) throw Failure("more than one folder given");
      if (arg.empty()) throw Failure("the folder name is empty");
      options.folder = args[i];
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--json" || arg == "--dump") {
      const ReportMode mode = arg == "--json" ? ReportMode::Json : ReportMode::Dump;
      if (modeGiven && options.mode != mode) throw Failure("--json and --dump exclude each other");
      options.mode = mode;
      modeGiven = true;
    } else if (arg == "--explain") {
      parseExplainTarget(args, i, options);
    } else if (parseCiOption(args, i, options.ci)) {
    } else if (auto scope = valueOf(args, i, "--scope", "all, code or nontest")) {
      const std::optional<FileScope> parsed = parseFileScope(*scope);
      if (!parsed) throw Failure("--scope needs all, code or nontest, not \"" + *scope + "\"");
      options.scope = *parsed;
    } else if (arg == "--hotspots") {
      options.hotspots.report = true;
    } else if (auto since = valueOf(args, i, "--since", "a date or a span")) {
      if (int64_t start = 0; !hotspotWindow(*since, 0, start)) {
        throw Failure("--since needs YYYY-MM-DD or N.days|weeks|months|years, not \"" + *since + "\"");
      }
      options.hotspots.since = *since;
    } else if (auto rank = valueOf(args, i, "--rank", "total, density or hotspot")) {
      if (*rank != "total" && *rank != "density" && *rank != "hotspot") {
        throw Failure("--rank needs total, density or hotspot, not \"" + *rank + "\"");
      }
      options.rankByDensity = *rank == "density";
      options.hotspots.rankLines = *rank == "hotspot";
    } else if (auto top = valueOf(args, i, "--top", "a number")) {
      options.top = countValue("--top", *top);
    } else {
      throw Failure("unknown option " + arg);
    }
  }
  if (options.ci.format) {
    const ReportFormat f = *options.ci.format;
    const ReportMode mode = f == ReportFormat::Json   ? ReportMode::Json
                            : f == ReportFormat::Dump ? ReportMode::Dump
                                                      : ReportMode::Report;
    if (modeGiven && mode != options.mode) {
      throw Failure("--format and --json or --dump exclude each other");
    }
    options.mode = mode;
  }
  if (options.explainFile &&
      (options.mode == ReportMode::Dump || options.folder || options.ci.format)) {
    throw Failure("--explain FILE:LINE takes only --json");
  }
  if (options.explainDump && options.mode != ReportMode::Dump) {
    throw Failure("--explain needs FILE:LINE, or --dump");
  }
  return options;
}

}  // namespace varnholt_app
