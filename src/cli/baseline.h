#pragma once
// The gate's memory: the findings of an accepted state, so that a later run
// fails only on lines that are new or hotter.

#include <string>
#include <string_view>
#include <vector>

#include "cli/findings.h"

namespace varnholt_app {

struct BaselineEntry {
  std::string fingerprint;
  double heatRaw = 0.0;
  int32_t line = 0;
  std::string pathField;  // the path as baselinePathField writes it
};

struct Baseline {
  std::string toolVersion;
  // A line absent from the baseline and at most this hot may have been left
  // out only because the list was full, or was below the minimum heat.
  double floor = 0.0;
  bool cutByCount = false;
  std::vector<BaselineEntry> entries;
};

std::string writeBaselineText(const FindingSet& set, double minHeat, std::string_view toolVersion);

// A baseline read line by line, so that a large file is judged by its first
// lines and never held whole.
struct BaselineParser {
  Baseline* out = nullptr;
  std::string_view toolVersion;
  size_t lines = 0;
  bool ended = false;  // the "end" line was read
};
// One line without its "\n". Throws Failure with a one-line reason.
void parseBaselineLine(BaselineParser& parser, std::string_view line);
// After the last line: throws Failure when the baseline was cut short.
void finishBaseline(const BaselineParser& parser);

struct GateFailure {
  const Finding* finding = nullptr;
  double before = -1.0;  // its heat in the baseline; negative when new
};

// How much hotter than recorded a line may get before it counts as hotter:
// the larger of a share of its recorded heat and a fixed raw amount.
struct GateTolerance {
  double percent = 5.0;
  double raw = 1.0;
};

// Findings new since the baseline or hotter than there. A finding whose
// text changed is matched to the entry left unmatched at its place.
std::vector<GateFailure> compareWithBaseline(const FindingSet& set, const Baseline& baseline,
                                             const GateTolerance& tolerance = {});

// Blanks, control bytes and "%" percent-encoded: one token per path.
std::string baselinePathField(std::string_view path);

}  // namespace varnholt_app
