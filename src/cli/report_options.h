#pragma once
// varnholt-report's command line: every option of the report, the CI
// formats' and the gate's included, read by one parser.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/native_string.h"
#include "cli/baseline.h"
#include "cli/hotspot_report.h"
#include "project/file_scope.h"

namespace varnholt_app {

// Exit codes of varnholt-report.
inline constexpr int kExitClean = 0;
inline constexpr int kExitUnreadable = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitGateFailed = 3;

extern const char* const kReportUsage;
extern const char* const kReportHelp;

enum class ReportFormat { Text, Json, Dump, Sarif, CodeQuality, Checkstyle, Csv };

// The options that choose findings, their format and the gate.
struct CiOptions {
  std::optional<ReportFormat> format;  // from --format
  bool byFile = false;
  std::optional<double> minHeat;
  std::optional<size_t> maxFindings;
  std::optional<double> failAbove;
  std::optional<NativeString> baseline;
  std::optional<NativeString> writeBaseline;
  std::optional<std::string> changedSince;
  GateTolerance tolerance;
};

// What goes to stdout: the text report (or a CI format), the page's
// messages, or the raw figures.
enum class ReportMode { Report, Json, Dump };

struct ReportOptions {
  ReportMode mode = ReportMode::Report;
  size_t top = 20;
  std::optional<NativeString> folder;
  bool help = false;
  bool version = false;
  std::optional<FileScope> scope;  // by default code, but all for --json and --dump
  bool rankByDensity = false;
  HotspotArgs hotspots;  // --hotspots, --since, --rank hotspot
  CiOptions ci;
  bool explainDump = false;                 // --explain without FILE:LINE
  std::optional<NativeString> explainFile;  // --explain FILE:LINE
  int32_t explainLine = 0;
};

// The arguments after the program name. Throws Failure with the usage
// error's one line.
ReportOptions parseReportOptions(const std::vector<NativeString>& args);

}  // namespace varnholt_app
