// varnholt-report: the whole analysis of one folder, printed for a terminal,
// as the program's own page messages (--json), or as raw figures (--dump).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "base/absolute_folder.h"
#include "base/failure.h"
#include "base/native_string.h"
#include "cli/ci_run.h"
#include "cli/hotspot_report.h"
#include "cli/report_options.h"
#include "cli/report_output.h"
#include "project/file_scope.h"
#include "project/project_analysis.h"

namespace varnholt_app {
namespace {

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

// Everything printed reached stdout; a full disk or a closed pipe is a
// failed run, not a clean one.
int withOutputChecked(int code) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
  std::fprintf(stderr, "varnholt-report: cannot write the report\n");
  return kExitUnreadable;
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

// One line on stderr for a failure that ends the run.
void reportFailure(const std::string& why) {
  std::fprintf(stderr, "varnholt-report: %s\n", why.c_str());
}

int run(const std::vector<NativeString>& args) {
  ReportOptions options;
  try {
    options = parseReportOptions(args);
  } catch (const Failure& usage) {
    reportFailure(std::string(usage.what()) + " (see --help)");
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kReportUsage, stdout);
    std::fputs(kReportHelp, stdout);
    std::fputs(kHotspotHelp, stdout);
    return withOutputChecked(kExitClean);
  }
  if (options.version) {
    std::fputs("varnholt-report " VARNHOLT_VERSION "\n", stdout);
    return withOutputChecked(kExitClean);
  }

  if (options.explainFile) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    if (isTerminal(stdout)) SetConsoleOutputCP(CP_UTF8);
#endif
    const bool json = options.mode == ReportMode::Json;
    try {
      printExplanation(*options.explainFile, options.explainLine, json,
                       !json && isTerminal(stdout) && std::getenv("NO_COLOR") == nullptr);
    } catch (const Failure& failure) {
      reportFailure(failure.what());
      return withOutputChecked(kExitUnreadable);
    }
    return withOutputChecked(kExitClean);
  }

  const NativeString folder = absoluteFolder(options.folder.value_or(asciiToNative(".")));
  const std::string folderUtf8 = nativeToUtf8Lossy(folder);
  if (const std::string problem = folderProblem(folder); !problem.empty()) {
    reportFailure(printable(folderUtf8) + ": " + problem);
    return kExitUnreadable;
  }
  CiInputs ciInputs;
  try {
    ciInputs = prepareCi(options.ci, folderUtf8);
  } catch (const Failure& usage) {
    reportFailure(printable(usage.what()));
    return kExitUsage;
  }

#ifdef _WIN32
  // The messages and the dump are UTF-8 bytes with "\n" line ends, as they are.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const bool textReport = options.ci.format.value_or(ReportFormat::Text) == ReportFormat::Text;
  const bool colour = options.mode == ReportMode::Report && textReport && isTerminal(stdout) &&
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
  // Freeing the records one by one would be the run's last serial step: the
  // analysis is left to the end of the process, still reachable.
  static ProjectAnalysis* const kept = new ProjectAnalysis();
  ProjectAnalysis& analysis = *kept;
  try {
    analysis = analyzeProject(folder, analyzeOptions);
  } catch (const std::exception& error) {
    // A Failure of the walk, or the memory running out.
    progress.clear();
    reportFailure(printable(folderUtf8) + ": " + printable(error.what()));
    return kExitUnreadable;
  }
  progress.clear();
  if (keepsInsideFolder(options.ci)) dropFilesOutside(analysis.model.files, folder);
  // The page's own messages and the dump mirror the program, which applies
  // the scope on the page: they keep every file unless asked otherwise.
  const FileScope defaultScope = options.mode == ReportMode::Report || options.hotspots.report
                                     ? FileScope::Code
                                     : FileScope::All;
  const ScopeCut scopeCut = narrowToScope(analysis, options.scope.value_or(defaultScope));
  const HotspotFormat hotspotFormat = options.mode == ReportMode::Json                 ? HotspotFormat::Json
                                      : options.ci.format == ReportFormat::Csv ? HotspotFormat::Csv
                                                                               : HotspotFormat::Text;
  if (runHotspots(options.hotspots, analysis.model.files, folderUtf8, hotspotFormat, options.top)) {
    return withOutputChecked(kExitClean);
  }

  switch (options.mode) {
    case ReportMode::Json:
      printJson(analysis);
      break;
    case ReportMode::Dump:
      printDump(analysis, options.explainDump);
      break;
    case ReportMode::Report:
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
  try {
    return withOutputChecked(
        finishCi(options.ci, ciInputs, analysis.model.files, folderUtf8, VARNHOLT_VERSION));
  } catch (const Failure& failure) {
    reportFailure(failure.what());
    return withOutputChecked(kExitUnreadable);
  }
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
