#include "cli/ci_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/failure.h"
#include "base/file_io.h"
#include "base/run_beside.h"
#include "cli/git_changes.h"
#include "cli/report_formats.h"
#include "cli/report_output.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

constexpr int64_t kMaxBaselineBytes = int64_t{256} << 20;
constexpr size_t kMaxBaselineLine = size_t{1} << 20;
constexpr size_t kFailuresShown = 20;

bool isCiFormat(std::optional<ReportFormat> f) {
  return f && *f != ReportFormat::Text && *f != ReportFormat::Json && *f != ReportFormat::Dump;
}

Baseline readBaseline(const NativeString& path, const char* toolVersion) {
  namespace fs = std::filesystem;
  const std::string name = nativeToUtf8Lossy(path);
  std::error_code statError;
  if (fs::is_directory(fs::path(path), statError)) {
    throw Failure("the baseline " + name + " is a folder, not a file");
  }
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) throw Failure("cannot read the baseline " + name);
  Baseline out;
  BaselineParser parser{&out, toolVersion};
  std::string pending;
  std::vector<char> chunk(size_t{1} << 16);
  int64_t total = 0;
  try {
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      const auto got = static_cast<size_t>(in.gcount());
      if (got == 0) break;
      total += static_cast<int64_t>(got);
      if (total > kMaxBaselineBytes) throw Failure("it is larger than 256 MiB");
      std::string_view data(chunk.data(), got);
      for (size_t end; (end = data.find('\n')) != std::string_view::npos;) {
        std::string_view line = data.substr(0, end);
        if (!pending.empty()) {
          pending += line;
          line = pending;
        }
        parseBaselineLine(parser, line);
        pending.clear();
        data.remove_prefix(end + 1);
      }
      if (pending.size() + data.size() > kMaxBaselineLine) {
        throw Failure("line " + std::to_string(parser.lines + 1) + " is too long");
      }
      pending += data;
    }
    if (!in.bad()) {
      if (!pending.empty()) throw Failure("it ends in the middle of a line");
      finishBaseline(parser);
    }
  } catch (const Failure& why) {
    throw Failure("the baseline " + name + " is not usable: " + why.what());
  }
  if (in.bad()) throw Failure("cannot read the baseline " + name);
  return out;
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

}  // namespace

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
  std::vector<const std::string*> keys;
  keys.reserve(files.size());
  for (const auto& entry : files) keys.push_back(&entry.first);
  // Resolving every file's path walks all its folders again; a folder is
  // resolved once, and only a file that is itself a link on its own.
  // Two threads take one half of the files each.
  std::vector<char> inside(keys.size());
  const auto decide = [&](size_t from, size_t to) {
    std::unordered_map<std::string_view, bool> folderInside;
    for (size_t i = from; i < to; ++i) {
      const std::string& key = *keys[i];
      const fs::path path(utf8ToNative(key));
      std::error_code ignored;
      // Keys of one folder share the bytes before their last separator.
      const std::string_view folderKey(key.data(), key.find_last_of("/\\") + 1);
      auto known = folderInside.find(folderKey);
      if (known == folderInside.end()) {
        const fs::path real = fs::canonical(path.parent_path(), ignored);
        known = folderInside.emplace(folderKey, !ignored && under(real)).first;
      }
      if (!known->second) continue;
      if (!fs::is_symlink(fs::symlink_status(path, ignored))) {
        inside[i] = !ignored;
        continue;
      }
      const fs::path real = fs::canonical(path, ignored);
      inside[i] = !ignored && under(real);
    }
  };
  const size_t half = keys.size() / 2;
  runBeside([&] { decide(0, half); }, [&] { decide(half, keys.size()); });
  size_t dropped = 0;
  size_t i = 0;
  for (auto it = files.begin(); it != files.end(); ++i) {
    if (inside[i]) {
      ++it;
    } else {
      it = files.erase(it);
      ++dropped;
    }
  }
  return dropped;
}

bool needsFindings(const CiOptions& options) {
  return isCiFormat(options.format) || options.failAbove || options.baseline ||
         options.writeBaseline;
}

CiInputs prepareCi(const CiOptions& options, const std::string& folder) {
  if (options.byFile && options.format != ReportFormat::Csv) {
    throw Failure("--by-file goes with --format csv");
  }
  CiInputs inputs;
  if (options.baseline) inputs.baseline = readBaseline(*options.baseline, VARNHOLT_VERSION);
  if (options.changedSince) {
    try {
      inputs.changed = changedLinesSince(folder, *options.changedSince);
    } catch (const Failure& why) {
      throw Failure(std::string("--changed-since: ") + why.what());
    }
  }
  return inputs;
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
    throw Failure("cannot write the baseline " + nativeToUtf8Lossy(*options.writeBaseline));
  }

  int code = kExitClean;
  // With a baseline, --fail-above judges only what is new or hotter: what
  // was accepted stays accepted.
  if (options.failAbove && !inputs.baseline && set.hottestInScope > *options.failAbove) {
    std::fprintf(stderr, "varnholt-report: gate failed: %s has a raw heat of %s, above %s\n",
                 printable(set.hottestWhere).c_str(), formatFixed(set.hottestInScope, 2).c_str(),
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
      const std::string place = printable(std::string(f.finding->path) + ":" + std::to_string(f.finding->line));
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
