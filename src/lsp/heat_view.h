#pragma once
// What the editor features need from the project model: which lines count
// as hot, the project-wide line scale, file ranks; and the analysis of one
// open buffer against them.

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/explain.h"
#include "analysis/file_heat.h"
#include "lsp/settings.h"
#include "model/model.h"

namespace varnholt_app {

// A file of a workspace folder as the settings see it: in scope, not
// excluded, within the size limit.
bool fileCounts(const ProjectFile& file, std::string_view root, const LspSettings& settings);
// `path` below `root` with "/" separators; empty when it is not below it.
std::string relativeUnder(std::string_view root, std::string_view path);

inline constexpr size_t kAuditLines = 30;
inline constexpr double kLinePercentile = 99.0;

struct ProjectStats {
  // Raw heat of the hottest line the audit leaves out (its 31st; 0 when it
  // lists every scored line) and of the 99th line percentile (over scored
  // lines, lower neighbour); infinity without lines.
  double auditCut = std::numeric_limits<double>::infinity();
  double percentileCut = std::numeric_limits<double>::infinity();
  double lineTop = 50.0;  // raw heat at the top of the 0..1 line scale
  std::vector<double> fileHeats;  // files that count, hottest first
};

struct WorkspaceModel {
  std::string root;
  const ProjectModel* model = nullptr;
};

ProjectStats computeProjectStats(const std::vector<WorkspaceModel>& workspaces,
                                 const LspSettings& settings);

// The default test, or the configured threshold: a hot line must exceed it.
bool lineIsHot(double heat, const ProjectStats& stats, const LspSettings& settings);
// 0..1 on the project's line scale (log, as the program's page draws it).
double lineHeat01(double heat, const ProjectStats& stats);
// 1-based rank of a file of heat `heat` among the counted files; `ownDiskHeat`
// is its own entry there (NaN when it has none). `total` gets the count.
size_t fileRank(double heat, double ownDiskHeat, const ProjectStats& stats, size_t& total);

// Analysis of one buffer.
struct BufferHeat {
  std::vector<double> lines;  // one per line as the editor counts them
  double total = 0.0;
  std::vector<int32_t> hot;   // 0-based hot lines, at most kMaxHotLines, in line order
  std::vector<std::string> reasons;  // aligned with `hot`
  // Reasons of the hot lines by heat bits and text, for the next pass.
  std::unordered_map<std::string, std::string> reasonCache;
};
inline constexpr size_t kMaxHotLines = 1000;  // the hottest, when more pass the test

// The heat of every line, then the hot lines with their reasons.
void analyzeBuffer(std::string_view text, LanguageId language, BufferHeat& out,
                   AnalysisScratch& scratch);
void markHotLines(std::string_view text, LanguageId language, const ProjectStats& stats,
                  const LspSettings& settings, BufferHeat& out);

// "else branch, 2 boolean operators": the line's two largest specific reasons.
std::string diagnosticReason(const LineExplanation& line);
// The hover text: heat, the top five reasons with their factors, hot neighbours.
std::string hoverMarkdown(const LineExplanation& line, double heat01);

// "115.7"; whole numbers and huge values stay short.
std::string formatHeat(double heat, int decimals = 1);

}  // namespace varnholt_app
