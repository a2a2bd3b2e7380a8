#pragma once
// Findings written for CI systems: SARIF 2.1.0, GitLab Code Quality,
// Checkstyle XML and CSV.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "cli/findings.h"

namespace varnholt_app {

// What code scanning accepts in one run. The size limit is on the gzipped
// file; keeping the plain text under it needs no compressor.
inline constexpr size_t kSarifMaxResults = 25000;
inline constexpr size_t kSarifMaxBytes = 10'000'000;

struct SarifRun {
  std::string toolVersion;
  std::string rootUri;  // file URI of the analysed folder, ending in "/"
  size_t maxResults = kSarifMaxResults;
  size_t maxBytes = kSarifMaxBytes;
};

// Receives a report in pieces as it is made.
using ReportSink = std::function<void(std::string_view)>;
void writeCodeQualityReport(const FindingSet& set, const ReportSink& sink);
void writeCheckstyleReport(const FindingSet& set, const ReportSink& sink);
void writeCsvReport(const FindingSet& set, const ReportSink& sink);

std::string sarifReport(const FindingSet& set, const SarifRun& run);
// One row per file with findings: how many, their summed heat, the hottest.
std::string csvByFileReport(const FindingSet& set);

// A CSV cell: valid UTF-8, quoted when needed, never read as a formula.
void appendCsvField(std::string& out, std::string_view bytes);

// A file URI for an absolute UTF-8 path ("/" or "\" separated), ending in "/".
std::string folderFileUri(std::string_view absolutePath);

}  // namespace varnholt_app
