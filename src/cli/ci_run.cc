#include "cli/ci_run.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/file_io.h"
#include "cli/git_changes.h"
#include "cli/report_formats.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

constexpr int64_t kMaxBaselineBytes = int64_t{256} << 20;
constexpr size_t kFailuresShown = 20;

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

bool isCiFormat(std::optional<ReportFormat> f) {
  return f && *f != ReportFormat::Text && *f != ReportFormat::Json && *f != ReportFormat::Dump;
}

// "--name value" or "--name=value"; nullopt when args[i] is another option.
std::optional<std::string> optionValue(const std::vector<NativeString>& args, size_t& i,
                                       std::string_view name) {
  const std::string arg = nativeToUtf8Lossy(args[i]);
  if (arg == name) {
    if (i + 1 >= args.size()) throw std::string(name) + " needs a value";
    return nativeToUtf8Lossy(args[++i]);
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    return arg.substr(name.size() + 1);
  }
  return std::nullopt;
}

// As optionValue, for a file name that must reach the system unchanged.
std::optional<NativeString> pathValue(const std::vector<NativeString>& args, size_t& i,
                                      std::string_view name) {
  const size_t at = i;
  std::optional<std::string> value = optionValue(args, i, name);
  if (!value) return std::nullopt;
  if (value->empty()) throw std::string(name) + " needs a file name";
  if (i > at) return args[i];
  return args[i].substr(name.size() + 1);
}

double heatValue(std::string_view name, const std::string& value) {
  double out = 0.0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), out);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
      !std::isfinite(out) || out < 0) {
    throw std::string(name) + " needs a raw heat of 0 or more, not \"" + value + "\"";
  }
  return out;
}

bool readBaseline(const NativeString& path, const char* toolVersion, Baseline& out,
                  std::string& error) {
  const std::string name = nativeToUtf8Lossy(path);
  std::string text;
  if (!readWholeFile(path, text, kMaxBaselineBytes)) {
    error = "cannot read the baseline " + name;
    return false;
  }
  std::string why;
  if (!parseBaseline(text, toolVersion, out, why)) {
    error = "the baseline " + name + " is not usable: " + why;
    return false;
  }
  return true;
}

// Through a temporary file, so that a failed write leaves the old baseline.
bool writeFileReplacing(const NativeString& path, const std::string& bytes) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  fs::path temporary = target;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error) fs::remove(temporary, error);
  return !error;
}

// A place for a terminal: control bytes as "?".
std::string shown(std::string out) {
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

}  // namespace

bool parseCiOption(const std::vector<NativeString>& args, size_t& i, CiOptions& options) {
  if (nativeToUtf8Lossy(args[i]) == "--by-file") {
    options.byFile = true;
  } else if (auto v = optionValue(args, i, "--format")) {
    const FormatName* found = nullptr;
    for (const FormatName& f : kFormats) {
      if (*v == f.name) found = &f;
    }
    if (found == nullptr) {
      throw "unknown format \"" + *v +
          "\" (text, json, dump, sarif, codeclimate, checkstyle or csv)";
    }
    if (options.format && *options.format != found->format) {
      throw std::string("more than one format given");
    }
    options.format = found->format;
  } else if (auto minHeat = optionValue(args, i, "--min-heat")) {
    options.minHeat = heatValue("--min-heat", *minHeat);
  } else if (auto failAbove = optionValue(args, i, "--fail-above")) {
    options.failAbove = heatValue("--fail-above", *failAbove);
  } else if (auto count = optionValue(args, i, "--max-findings")) {
    size_t n = 0;
    const auto [end, error] = std::from_chars(count->data(), count->data() + count->size(), n);
    if (count->empty() || error != std::errc() || end != count->data() + count->size()) {
      throw "--max-findings needs a number, not \"" + *count + "\"";
    }
    options.maxFindings = n;
  } else if (auto revision = optionValue(args, i, "--changed-since")) {
    if (revision->empty() || revision->front() == '-') {
      throw "--changed-since needs a git revision, not \"" + *revision + "\"";
    }
    options.changedSince = *revision;
  } else if (auto baseline = pathValue(args, i, "--baseline")) {
    options.baseline = *baseline;
  } else if (auto written = pathValue(args, i, "--write-baseline")) {
    options.writeBaseline = *written;
  } else {
    return false;
  }
  return true;
}

bool needsFindings(const CiOptions& options) {
  return isCiFormat(options.format) || options.failAbove || options.baseline ||
         options.writeBaseline;
}

bool prepareCi(const CiOptions& options, const std::string& folder, CiInputs& inputs,
               std::string& error) {
  if (options.byFile && options.format != ReportFormat::Csv) {
    error = "--by-file goes with --format csv";
    return false;
  }
  if (options.baseline) {
    Baseline baseline;
    if (!readBaseline(*options.baseline, VARNHOLT_VERSION, baseline, error)) return false;
    inputs.baseline = std::move(baseline);
  }
  if (options.changedSince) {
    ChangedLines changed;
    std::string why;
    if (!changedLinesSince(folder, *options.changedSince, changed, why)) {
      error = "--changed-since: " + why;
      return false;
    }
    inputs.changed = std::move(changed);
  }
  return true;
}

int finishCi(const CiOptions& options, const CiInputs& inputs, const ProjectFileMap& files,
             const std::string& folder, const char* toolVersion) {
  if (!needsFindings(options)) return kExitClean;
  FindingOptions findingOptions;
  findingOptions.minHeat = options.minHeat.value_or(0.0);
  findingOptions.maxFindings = options.maxFindings.value_or(findingOptions.maxFindings);
  if (inputs.changed) findingOptions.changed = &*inputs.changed;
  const FindingSet set = selectFindings(files, folder, findingOptions);

  std::string out;
  switch (options.format.value_or(ReportFormat::Text)) {
    case ReportFormat::Sarif:
      out = sarifReport(set, {toolVersion, folderFileUri(folder)});
      break;
    case ReportFormat::CodeQuality:
      out = codeQualityReport(set);
      break;
    case ReportFormat::Checkstyle:
      out = checkstyleReport(set);
      break;
    case ReportFormat::Csv:
      out = options.byFile ? csvByFileReport(set) : csvReport(set);
      break;
    default:
      break;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);

  if (options.writeBaseline &&
      !writeFileReplacing(*options.writeBaseline,
                          writeBaselineText(set, findingOptions.minHeat, toolVersion))) {
    std::fprintf(stderr, "varnholt-report: cannot write the baseline %s\n",
                 nativeToUtf8Lossy(*options.writeBaseline).c_str());
    return kExitUnreadable;
  }

  int code = kExitClean;
  if (options.failAbove && set.hottestInScope > *options.failAbove) {
    std::fprintf(stderr, "varnholt-report: gate failed: %s has a raw heat of %.17g, above %.17g\n",
                 shown(set.hottestWhere).c_str(), set.hottestInScope, *options.failAbove);
    code = kExitGateFailed;
  }
  if (inputs.baseline) {
    const std::vector<GateFailure> failures = compareWithBaseline(set, *inputs.baseline);
    for (size_t k = 0; k < failures.size() && k < kFailuresShown; ++k) {
      const GateFailure& f = failures[k];
      const std::string place = shown(f.finding->path + ":" + std::to_string(f.finding->line));
      if (f.before < 0) {
        std::fprintf(stderr, "varnholt-report: new hot line %s, raw heat %s\n", place.c_str(),
                     formatFixed(f.finding->heatRaw, 2).c_str());
      } else {
        std::fprintf(stderr, "varnholt-report: hotter line %s, raw heat %s, was %s\n",
                     place.c_str(), formatFixed(f.finding->heatRaw, 2).c_str(),
                     formatFixed(f.before, 2).c_str());
      }
    }
    if (!failures.empty()) {
      std::fprintf(stderr,
                   "varnholt-report: gate failed: %zu lines new or hotter than in the baseline\n",
                   failures.size());
      code = kExitGateFailed;
    }
  }
  return code;
}

}  // namespace varnholt_app
