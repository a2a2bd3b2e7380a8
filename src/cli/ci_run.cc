#include "cli/ci_run.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unordered_map>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/file_io.h"
#include "cli/git_changes.h"
#include "cli/report_formats.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

constexpr int64_t kMaxBaselineBytes = int64_t{256} << 20;
constexpr size_t kMaxBaselineLine = size_t{1} << 20;
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
  namespace fs = std::filesystem;
  const std::string name = nativeToUtf8Lossy(path);
  std::error_code statError;
  if (fs::is_directory(fs::path(path), statError)) {
    error = "the baseline " + name + " is a folder, not a file";
    return false;
  }
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) {
    error = "cannot read the baseline " + name;
    return false;
  }
  BaselineParser parser{&out, toolVersion};
  std::string why;
  std::string pending;
  std::vector<char> chunk(size_t{1} << 16);
  int64_t total = 0;
  auto unusable = [&](const std::string& reason) {
    error = "the baseline " + name + " is not usable: " + reason;
    return false;
  };
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    total += static_cast<int64_t>(got);
    if (total > kMaxBaselineBytes) return unusable("it is larger than 256 MiB");
    std::string_view data(chunk.data(), got);
    for (size_t end; (end = data.find('\n')) != std::string_view::npos;) {
      std::string_view line = data.substr(0, end);
      if (!pending.empty()) {
        pending += line;
        line = pending;
      }
      if (!parseBaselineLine(parser, line, why)) return unusable(why);
      pending.clear();
      data.remove_prefix(end + 1);
    }
    if (pending.size() + data.size() > kMaxBaselineLine) {
      return unusable("line " + std::to_string(parser.lines + 1) + " is too long");
    }
    pending += data;
  }
  if (in.bad()) {
    error = "cannot read the baseline " + name;
    return false;
  }
  if (!pending.empty()) return unusable("it ends in the middle of a line");
  if (!finishBaseline(parser, why)) return unusable(why);
  return true;
}

// Through a temporary file made beside the target and only for this run, so
// that a failed write leaves the old baseline and a link or folder that
// happens to sit at the temporary name is never written through or removed.
bool writeFileReplacing(const NativeString& path, const std::string& bytes) {
#ifdef _WIN32
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = path + L".tmp-" +
                std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = true;
  for (size_t done = 0; written && done < bytes.size();) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    written = WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) && wrote > 0;
    done += wrote;
  }
  written = FlushFileBuffers(file) && written;
  written = CloseHandle(file) && written;
  if (written &&
      MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temporary.c_str());
  return false;
#else
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  // mkstemp makes the file private; a baseline is as readable as any other.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  bool written = ::fchmod(fd, 0666 & ~mask) == 0;
  for (size_t done = 0; written && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<size_t>(n);
  }
  written = ::fsync(fd) == 0 && written;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
#endif
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
  } else if (auto tolerance = optionValue(args, i, "--tolerance")) {
    // PERCENT or PERCENT,RAW
    const size_t comma = tolerance->find(',');
    std::string percent = tolerance->substr(0, comma);
    if (!percent.empty() && percent.back() == '%') percent.pop_back();
    options.tolerance.percent = heatValue("--tolerance", percent);
    if (comma != std::string::npos) {
      options.tolerance.raw = heatValue("--tolerance", tolerance->substr(comma + 1));
    }
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

bool keepsInsideFolder(const CiOptions& options) {
  return isCiFormat(options.format) || options.changedSince.has_value();
}

size_t dropFilesOutside(ProjectFileMap& files, const NativeString& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path root = fs::canonical(fs::path(folder), error);
  if (error) return 0;
  const auto under = [&](const fs::path& real) {
    auto p = real.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
      if (p == real.end() || *p != *r) return false;
    }
    return true;
  };
  // Resolving every file's path walks all its folders again; a folder is
  // resolved once, and only a file that is itself a link on its own.
  std::unordered_map<NativeString, bool> folderInside;
  const auto inside = [&](const std::string& key) {
    const fs::path path(utf8ToNative(key));
    std::error_code ignored;
    auto known = folderInside.find(path.parent_path().native());
    if (known == folderInside.end()) {
      const fs::path real = fs::canonical(path.parent_path(), ignored);
      known = folderInside.emplace(path.parent_path().native(), !ignored && under(real)).first;
    }
    if (!known->second) return false;
    if (!fs::is_symlink(fs::symlink_status(path, ignored))) return !ignored;
    const fs::path real = fs::canonical(path, ignored);
    return !ignored && under(real);
  };
  return std::erase_if(files, [&](const auto& entry) { return !inside(entry.first); });
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
  const ReportFormat format = options.format.value_or(ReportFormat::Text);
  const size_t asked = findingOptions.maxFindings;
  // SARIF lists at most so many results: the rest is not worth building.
  // A baseline needs every finding asked for.
  if (format == ReportFormat::Sarif && !options.baseline && !options.writeBaseline) {
    findingOptions.maxFindings = std::min(findingOptions.maxFindings, kSarifMaxResults);
  }
  FindingSet set = selectFindings(files, folder, findingOptions);
  set.qualified = std::min(set.qualified, asked);

  const ReportSink toStdout = [](std::string_view piece) {
    std::fwrite(piece.data(), 1, piece.size(), stdout);
  };
  switch (format) {
    case ReportFormat::Sarif:
      toStdout(sarifReport(set, {toolVersion, folderFileUri(folder)}));
      break;
    case ReportFormat::CodeQuality:
      writeCodeQualityReport(set, toStdout);
      break;
    case ReportFormat::Checkstyle:
      writeCheckstyleReport(set, toStdout);
      break;
    case ReportFormat::Csv:
      if (options.byFile) {
        toStdout(csvByFileReport(set));
      } else {
        writeCsvReport(set, toStdout);
      }
      break;
    default:
      break;
  }

  if (options.writeBaseline &&
      !writeFileReplacing(*options.writeBaseline,
                          writeBaselineText(set, findingOptions.minHeat, toolVersion))) {
    std::fprintf(stderr, "varnholt-report: cannot write the baseline %s\n",
                 nativeToUtf8Lossy(*options.writeBaseline).c_str());
    return kExitUnreadable;
  }

  int code = kExitClean;
  // With a baseline, --fail-above judges only what is new or hotter: what
  // was accepted stays accepted.
  if (options.failAbove && !inputs.baseline && set.hottestInScope > *options.failAbove) {
    std::fprintf(stderr, "varnholt-report: gate failed: %s has a raw heat of %s, above %s\n",
                 shown(set.hottestWhere).c_str(), formatFixed(set.hottestInScope, 2).c_str(),
                 formatFixed(*options.failAbove, 2).c_str());
    code = kExitGateFailed;
  }
  if (inputs.baseline) {
    std::vector<GateFailure> failures =
        compareWithBaseline(set, *inputs.baseline, options.tolerance);
    if (options.failAbove) {
      std::erase_if(failures, [&](const GateFailure& f) {
        return !(f.finding->heatRaw > *options.failAbove);
      });
    }
    for (size_t k = 0; k < failures.size() && k < kFailuresShown; ++k) {
      const GateFailure& f = failures[k];
      const std::string place = shown(std::string(f.finding->path) + ":" + std::to_string(f.finding->line));
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
      std::fprintf(stderr, "varnholt-report: gate failed: %zu lines new or hotter than in the baseline%s\n",
                   failures.size(),
                   options.failAbove ? (" and above " + formatFixed(*options.failAbove, 2)).c_str() : "");
      code = kExitGateFailed;
    }
  }
  return code;
}

}  // namespace varnholt_app
