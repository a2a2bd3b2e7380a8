#pragma once
// Why a line is as hot as it is: every term and factor of its heat,
// worked out again for one file on demand. The normal analysis keeps none
// of this, so it pays nothing for it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/language_profile.h"
#include "analysis/lexer.h"

namespace varnholt_app {

// The terms of a line's complexity, in the order they are summed.
enum class TermKind : int32_t {
  Tokens,         // tokens beyond the first 10 (capped at 50)
  Base,           // every scored line
  Loop,
  Branch,
  Exception,
  Type,
  Function,
  Declaration,    // the C-family declaration test
  BoolOps,
  Ternaries,
  Dots,           // dots beyond 3
  LongLine,
  KeywordSquare,  // 0.16 x the keyword weight squared
  TokenSquare,    // tokens beyond 10, squared (capped at 40)
};
inline constexpr int32_t kTermKinds = 14;

// Stable name of a term ("boolOps", ...), for JSON.
const char* termName(TermKind kind);

struct HeatTerm {
  TermKind kind = TermKind::Base;
  int64_t count = 0;
  double value = 0.0;               // added to the complexity
  std::vector<std::string> words;   // distinct code words or operators that counted
};

struct HotNeighbour {
  int32_t line = 0;
  double rawScore = 0.0;
  double share = 0.0;  // its decayed part of the spread at the explained line
};

struct LineExplanation {
  int32_t line = 0;  // 1-based
  bool scored = false;
  // Why a line is not scored: "blank", "inString", "inComment", "string",
  // "comment", "preprocessor", "commentMarker" or "punctuation", and the
  // same in words ("inside a string").
  std::string notScoredBecause;
  std::string notScoredText;
  LineFacts facts;
  bool declaration = false;
  std::vector<HeatTerm> terms;  // kTermKinds entries for a scored line, else none
  double complexity = 0.0;
  double heatBase = 0.0;
  double keywordWeight = 0.0;
  double rawScore = 0.0;
  double intensity = 0.0;
  // Block factor inputs: the innermost brace block open at the line's start.
  int32_t blockLines = 0;
  int64_t blockTypeKeywords = 0;
  double blockKeywordDensity = 0.0;
  int32_t depth = 0;
  double blockFactor = 1.0;  // B, before blending with the intensity
  double keywordTrend = 0.0;
  double tokenTrend = 0.0;
  double trendFactor = 1.0;  // T, blended
  double depthFactor = 1.0;  // D, blended
  double spreadBefore = 0.0;
  double spreadAfter = 0.0;
  double spread = 0.0;
  double spreadFactor = 1.0;  // P, before blending
  std::vector<HotNeighbour> hotBefore;  // nearest first
  std::vector<HotNeighbour> hotAfter;
  double heat = 0.0;
};

// Explanations of the given 1-based lines of `text` (sorted, no repeats;
// lines beyond the text are left out). Each line's heat equals what
// analyzeText gives it, bit for bit.
std::vector<LineExplanation> explainText(std::string_view text, const LanguageProfile& profile,
                                         const std::vector<int32_t>& lines);

// Complexity from a line's terms, summed as lineComplexity sums them.
double recomposeComplexity(const std::vector<HeatTerm>& terms);
// The line's heat from its base heat and factors.
double recomposeHeat(const LineExplanation& line);

// One contribution in plain words, e.g. "3 boolean operators (&&, ||)" or
// "nested 5 deep" with its factor.
struct HeatReason {
  std::string text;
  double factor = 0.0;  // the blended lift of a factor; 0 for a complexity term
  double points = 0.0;  // its share of the heat, for ordering
  std::vector<int32_t> lines;  // hot neighbours it names
};

// Largest first; terms and factors that change nothing are left out.
std::vector<HeatReason> heatReasons(const LineExplanation& line);

// The largest reason as a few words, for a list row; empty for a cold line.
std::string shortReason(const LineExplanation& line);

}  // namespace varnholt_app
