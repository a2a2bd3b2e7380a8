#include "analysis/explain.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "analysis/file_heat.h"
#include "analysis/heat_math.h"
#include "analysis/scoring.h"

namespace varnholt_app {

namespace {

// Probes per line when finding the words behind the counts: each probe
// rescans a prefix of the line.
constexpr int32_t kMaxWordProbes = 64;
constexpr int32_t kNeighbourReach = 12;  // 0.6^12: under a quarter percent
constexpr size_t kMaxNeighbours = 3;

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

bool isWordByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

struct BlockTotals {
  int32_t lineCount = 0;
  int64_t typeKwSum = 0;
  double keywordSum = 0.0;
};

// What the per-line pass keeps of a line that is to be explained.
struct Pending {
  int32_t line = 0;
  std::string_view text;
  LexState before;
  LineFacts facts;
  bool scored = false;
  int32_t depth = 0;
  size_t block = 0;
  double keywordTrend = 0.0;
  double tokenTrend = 0.0;
  double forward = 0.0;
  double backward = 0.0;
};

void addWord(std::vector<std::string>& words, std::string word) {
  if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(std::move(word));
}

// The code words and operators behind the line's keyword and operator
// counts: each candidate is kept when scanning the line up to its end
// counts more than scanning up to its start, so comments and strings drop out.
void findTriggerWords(const Pending& p, const LanguageProfile& profile,
                      std::vector<HeatTerm>& terms) {
  const std::string_view line = p.text;
  const bool symbolOps = profile.countBooleanOps && !profile.compiled.wordOperatorMode;
  int32_t probes = 0;
  auto probe = [&](size_t begin, size_t end) {
    if (++probes > kMaxWordProbes) return;
    LexState a = p.before;
    LexState b = p.before;
    const LineFacts x = scanLine(line.substr(0, begin), a, profile);
    const LineFacts y = scanLine(line.substr(0, end), b, profile);
    std::string word(line.substr(begin, end - begin));
    for (char& c : word) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    const std::pair<TermKind, int32_t> deltas[] = {
        {TermKind::Loop, y.loopKw - x.loopKw},
        {TermKind::Branch, y.branchKw - x.branchKw},
        {TermKind::Exception, y.exceptionKw - x.exceptionKw},
        {TermKind::Type, y.typeKw - x.typeKw},
        {TermKind::Function, y.functionKw - x.functionKw},
        {TermKind::BoolOps, y.boolOps - x.boolOps},
        {TermKind::Ternaries, y.ternaries - x.ternaries}};
    for (const auto& [kind, delta] : deltas) {
      if (delta > 0) addWord(terms[static_cast<size_t>(kind)].words, word);
    }
  };
  constexpr uint8_t kCounted =
      kKwLoop | kKwBranch | kKwException | kKwFunction | kKwType | kKwBoolWord;
  size_t i = 0;
  while (i < line.size() && probes < kMaxWordProbes) {
    const char c = line[i];
    if (isWordByte(c)) {
      size_t end = i;
      while (end < line.size() && isWordByte(line[end])) ++end;
      size_t begin = i;
      while (begin < end && line[begin] >= '0' && line[begin] <= '9') ++begin;
      if (begin < end && (keywordMask(profile, line.data() + begin, end - begin) & kCounted)) {
        probe(begin, end);
      }
      i = end;
    } else if (symbolOps && (c == '&' || c == '|') && i + 1 < line.size() && line[i + 1] == c) {
      probe(i, i + 2);
      i += 2;
    } else {
      if (c == '?' && profile.countTernary && questionIsTernary(line, i, profile.questionRule)) probe(i, i + 1);
      ++i;
    }
  }
}

// The terms of lineComplexity, value by value.
std::vector<HeatTerm> termsOf(const LineFacts& f, const LanguageProfile& p, bool declaration) {
  std::vector<HeatTerm> terms(kTermKinds);
  for (int32_t k = 0; k < kTermKinds; ++k) terms[static_cast<size_t>(k)].kind = static_cast<TermKind>(k);
  auto set = [&](TermKind kind, int64_t count, double value) {
    terms[static_cast<size_t>(kind)].count = count;
    terms[static_cast<size_t>(kind)].value = value;
  };
  const int32_t t = std::max(std::min(f.tokenCount, 60) - 10, 0);
  set(TermKind::Tokens, t, t * p.wTokens);
  set(TermKind::Base, 1, p.wBase);
  set(TermKind::Loop, f.loopKw, f.loopKw * p.wLoop);
  set(TermKind::Branch, f.branchKw, f.branchKw * p.wBranch);
  set(TermKind::Exception, f.exceptionKw, f.exceptionKw * p.wException);
  set(TermKind::Type, f.typeKw, f.typeKw * p.wType);
  if (f.functionKw > 0) set(TermKind::Function, f.functionKw, f.functionKw * p.wFunction);
  if (declaration) set(TermKind::Declaration, 1, 0.5 * p.wFunction);
  set(TermKind::BoolOps, f.boolOps, f.boolOps * p.wBoolOp);
  set(TermKind::Ternaries, f.ternaries, f.ternaries * p.wTernary);
  if (f.dots >= 4) set(TermKind::Dots, f.dots - 3, (f.dots - 3) * p.wDot);
  if (p.longLinePenalty && f.lineLength >= 140) {
    set(TermKind::LongLine, f.lineLength,
        0.75 * (f.lineLength >= 240 ? p.wVeryLongLine : p.wLongLine));
  }
  const double k = keywordWeight(f);
  if (k > 0) set(TermKind::KeywordSquare, 1, 0.16 * (k * k));
  if (t >= 1) {
    const int32_t capped = std::min(t, 40);
    set(TermKind::TokenSquare, capped, 0.0018 * (capped * capped));
  }
  return terms;
}

std::vector<HotNeighbour> neighbours(const std::vector<double>& rawScores, size_t at, int step) {
  std::vector<HotNeighbour> out;
  double decay = 1.0;
  for (int32_t d = 1; d <= kNeighbourReach && out.size() < kMaxNeighbours; ++d) {
    decay *= 0.6;
    const int64_t j = static_cast<int64_t>(at) + step * d;
    if (j < 0 || j >= static_cast<int64_t>(rawScores.size())) break;
    const double raw = rawScores[static_cast<size_t>(j)];
    if (raw > kHotScore) out.push_back({static_cast<int32_t>(j + 1), raw, 0.55 * raw * decay});
  }
  return out;
}

// The real reason a line is not scored, tested from the most specific.
std::pair<const char*, const char*> unscoredReason(const LineFacts& f, std::string_view line,
                                                   const LanguageProfile& profile) {
  const std::string_view t = trimLine(line);
  if (f.startsInside == 0 && t.empty()) return {"blank", "blank line"};
  if (!f.hasCode && f.startsInside != 0) {
    return f.startsInside == 1 ? std::pair{"inComment", "inside a comment"} : std::pair{"inString", "inside a string"};
  }
  if (!f.hasCode) {
    const bool quote = t[0] == '"' || t[0] == '\'' || (t[0] == '`' && profile.backtickStrings);
    return quote ? std::pair{"string", "only a string"} : std::pair{"comment", "only a comment"};
  }
  if (isTrivialLine(t)) {
    if (t[0] == '#' || t.starts_with("import ") || t.starts_with("package ") || t.starts_with("using ")) {
      return {"preprocessor", "import or preprocessor line"};
    }
    if (t[0] == '*' || t[0] == '/') return {"commentMarker", "starts like a comment"};
  }
  return {"punctuation", "punctuation only"};
}

void finish(const Pending& p, const std::vector<BlockTotals>& blocks,
            const std::vector<double>& rawScores, const LanguageProfile& profile,
            LineExplanation& e) {
  const LineFacts& f = p.facts;
  e.line = p.line;
  e.facts = f;
  e.scored = p.scored;
  e.depth = p.depth;
  e.keywordTrend = p.keywordTrend;
  e.tokenTrend = p.tokenTrend;
  e.keywordWeight = keywordWeight(f);
  if (!p.scored) {
    const auto [code, words] = unscoredReason(f, p.text, profile);
    e.notScoredBecause = code;
    e.notScoredText = words;
    return;
  }
  e.declaration = lineLooksLikeDeclaration(f, p.text, profile);
  e.terms = termsOf(f, profile, e.declaration);
  findTriggerWords(p, profile, e.terms);
  e.complexity = recomposeComplexity(e.terms);
  e.heatBase = std::min(lineHeatFromComplexity(e.complexity, profile), kMaxHeat);
  e.rawScore = lineRawScore(f);
  e.intensity = clamp01((e.rawScore - 1.2) * 0.25);

  const BlockTotals& b = blocks[p.block];
  e.blockLines = std::max(b.lineCount, 0);
  e.blockTypeKeywords = std::max<int64_t>(b.typeKwSum, 0);
  e.blockKeywordDensity = b.lineCount > 0 ? b.keywordSum / b.lineCount : 0.0;
  const int32_t d = std::min(p.depth, kFactorDepth);
  e.blockFactor = (1 + 0.12 * portableLog(1.0 + e.blockLines)) *
                  (1 + 0.18 * portableLog(1.0 + static_cast<double>(e.blockTypeKeywords))) *
                  (1 + 0.1 * clamp01(e.blockKeywordDensity / 3.5)) * (1 + 0.008 * d);
  const double i = e.intensity;
  e.trendFactor = ((1 + 0.03 * clamp01(0.25 * p.keywordTrend)) *
                       (1 + 0.018 * clamp01(p.tokenTrend / 18)) -
                   1) *
                      i +
                  1;
  e.depthFactor = (0.007 * (d * d) + 0.012 * d) * i + 1;
  e.spreadBefore = p.forward;
  e.spreadAfter = p.backward;
  e.spread = std::max(p.forward, p.backward);
  // Up to a spread of 2 the first clamp is 0 and the factor exactly 1.
  if (e.spread > 2) {
    e.spreadFactor =
        1 + 1.15 * clamp01((e.spread - 2) / 3.5) *
                clamp01(portablePow(std::max(portableLog(1 + e.spread), 0.0), 1.35) / 4.5);
  }
  const size_t at = static_cast<size_t>(p.line - 1);
  e.hotBefore = neighbours(rawScores, at, -1);
  e.hotAfter = neighbours(rawScores, at, +1);
  e.heat = recomposeHeat(e);
}

// "1 loop keyword (for)", "3 boolean operators (&&, ||)".
std::string counted(int64_t count, const char* one, const char* many,
                    const std::vector<std::string>& words) {
  std::string out = std::to_string(count) + " " + (count == 1 ? one : many);
  if (!words.empty()) {
    out += " (";
    for (size_t k = 0; k < words.size(); ++k) out += (k > 0 ? ", " : "") + words[k];
    out += ")";
  }
  return out;
}

std::string termText(const HeatTerm& t, const LineExplanation& e) {
  switch (t.kind) {
    case TermKind::Tokens: return std::to_string(e.facts.tokenCount) + " tokens";
    case TermKind::Base: return "a line of code";
    case TermKind::Loop: return counted(t.count, "loop keyword", "loop keywords", t.words);
    case TermKind::Branch: return counted(t.count, "branch keyword", "branch keywords", t.words);
    case TermKind::Exception:
      return counted(t.count, "error-handling keyword", "error-handling keywords", t.words);
    case TermKind::Type: return counted(t.count, "type keyword", "type keywords", t.words);
    case TermKind::Function:
      return counted(t.count, "function keyword", "function keywords", t.words);
    case TermKind::Declaration: return "looks like a declaration";
    case TermKind::BoolOps:
      return counted(t.count, "boolean operator", "boolean operators", t.words);
    case TermKind::Ternaries: return counted(t.count, "ternary", "ternaries", {});
    case TermKind::Dots: return std::to_string(t.count + 3) + " dots in member chains";
    case TermKind::LongLine:
      return std::string(t.count >= 240 ? "very long line" : "long line") + " (" +
             std::to_string(t.count) + " bytes)";
    case TermKind::KeywordSquare: {
      char text[64];
      std::snprintf(text, sizeof text, "control-flow load %.2f", e.keywordWeight);
      std::vector<std::string> all;
      for (TermKind k : {TermKind::Loop, TermKind::Branch, TermKind::Exception, TermKind::BoolOps,
                         TermKind::Ternaries}) {
        for (const std::string& w : e.terms[static_cast<size_t>(k)].words) addWord(all, w);
      }
      std::string out = text;
      for (size_t k = 0; k < all.size(); ++k) out += (k == 0 ? " (" : ", ") + all[k];
      return out + (all.empty() ? ", squared" : "), squared");
    }
    case TermKind::TokenSquare: return "many tokens, squared";
  }
  return {};
}

std::string spreadText(const LineExplanation& e, std::vector<int32_t>& lines) {
  const bool above = e.spreadBefore >= e.spreadAfter;
  const std::vector<HotNeighbour>& near = above ? e.hotBefore : e.hotAfter;
  for (const HotNeighbour& n : near) lines.push_back(n.line);
  const char* side = above ? "above" : "below";
  if (near.empty()) return std::string("a hot line, nothing hot just ") + side;
  return std::to_string(near.size()) + (near.size() == 1 ? " hot line" : " hot lines") +
         " just " + side;
}

}  // namespace

const char* termName(TermKind kind) {
  static const char* const kNames[kTermKinds] = {
      "tokens", "base",    "loop",      "branch", "exception",     "type",       "function",
      "declaration", "boolOps", "ternaries", "dots", "longLine", "keywordSquare", "tokenSquare"};
  const auto k = static_cast<int32_t>(kind);
  return k >= 0 && k < kTermKinds ? kNames[k] : "";
}

std::vector<LineExplanation> explainText(std::string_view text,
                                         const LanguageProfile& givenProfile,
                                         const std::vector<int32_t>& lines) {
  std::optional<LanguageProfile> preparedCopy;
  if (!givenProfile.compiled.ready) {
    preparedCopy.emplace(givenProfile);
    prepareProfile(*preparedCopy);
  }
  const LanguageProfile& profile = preparedCopy ? *preparedCopy : givenProfile;

  std::vector<Pending> pending;
  std::vector<double> rawScores;
  rawScores.reserve(countSplitLines(text));
  std::vector<BlockTotals> blocks(1);
  std::vector<size_t> scopes{0};
  IndentBlocks indents;
  indents.start();
  indents.open.front().block = 0;
  LexState lex;
  int32_t depth = 0;
  double keywordTrend = 0.0;
  double tokenTrend = 0.0;
  double forward = 0.0;
  auto wanted = lines.begin();
  int32_t number = 0;

  forEachLine(text, [&](std::string_view line) {
    ++number;
    const LexState before = lex;
    const LineFacts f = scanLine(line, lex, profile);
    const double k = keywordWeight(f);
    const bool scored = lineIsScored(f, line);
    const double raw = scored ? lineRawScore(f) : 0.0;
    if (profile.indentBlocks) {
      indents.enter(line, std::min(line.find_first_not_of(" \t\r"), line.size()), f);
      depth = indents.depth();
    }
    const size_t block = !profile.indentBlocks ? scopes.back()
                         : scored              ? indents.scoredBlock(blocks)
                                               : indents.open.back().block;
    if (scored) {
      BlockTotals& b = blocks[block];
      b.lineCount += 1;
      b.typeKwSum += f.typeKw;
      b.keywordSum += k;
    }
    keywordTrend = 0.92 * keywordTrend + 0.08 * k;
    tokenTrend = 0.94 * tokenTrend + 0.06 * std::min(f.tokenCount, 40);
    forward = (scored && raw > kHotScore) ? 0.55 * raw + 0.6 * forward : 0.6 * forward;
    while (wanted != lines.end() && *wanted < number) ++wanted;
    if (wanted != lines.end() && *wanted == number) {
      pending.push_back({number, line, before, f, scored, depth, block, keywordTrend, tokenTrend,
                         forward, 0.0});
    }
    if (profile.indentBlocks) {
      indents.leave(f);
    } else {
      for (int32_t o = 0; o < f.openBraces; ++o) {
        scopes.push_back(blocks.size());
        blocks.emplace_back();
      }
      for (int32_t c = 0; c < f.closeBraces && scopes.size() > 1; ++c) scopes.pop_back();
      const int64_t next = static_cast<int64_t>(depth) + f.openBraces - f.closeBraces;
      depth = static_cast<int32_t>(std::clamp<int64_t>(next, 0, kMaxDepth));
    }
    rawScores.push_back(scored ? raw : 0.0);
  });

  double backward = 0.0;
  auto p = pending.rbegin();
  for (size_t i = rawScores.size(); i-- > 0 && p != pending.rend();) {
    const double raw = rawScores[i];
    backward = raw > kHotScore ? 0.55 * raw + 0.6 * backward : 0.6 * backward;
    if (static_cast<size_t>(p->line) == i + 1) (p++)->backward = backward;
  }

  std::vector<LineExplanation> out(pending.size());
  for (size_t i = 0; i < pending.size(); ++i) {
    finish(pending[i], blocks, rawScores, profile, out[i]);
  }
  return out;
}

double recomposeComplexity(const std::vector<HeatTerm>& terms) {
  if (terms.size() != static_cast<size_t>(kTermKinds)) return 0.0;
  auto v = [&](TermKind kind) { return terms[static_cast<size_t>(kind)].value; };
  double s = v(TermKind::Tokens) + v(TermKind::Base) + v(TermKind::Loop) + v(TermKind::Branch) +
             v(TermKind::Exception) + v(TermKind::Type);
  s += v(TermKind::Function);
  s += v(TermKind::Declaration);
  s += v(TermKind::BoolOps) + v(TermKind::Ternaries);
  s += v(TermKind::Dots);
  s += v(TermKind::LongLine);
  s = std::max(s, 0.0);
  s = s + v(TermKind::KeywordSquare);
  s = s + v(TermKind::TokenSquare);
  return std::max(s, 0.0);
}

double recomposeHeat(const LineExplanation& e) {
  if (!e.scored || !(e.heatBase > 0)) return 0.0;
  if (!(e.rawScore > 1.2)) return e.heatBase;
  const double i = e.intensity;
  const double heat = ((e.blockFactor - 1) * i + 1) * e.heatBase * e.trendFactor * e.depthFactor *
                      ((e.spreadFactor - 1) * i + 1);
  return std::clamp(heat, 0.0, kMaxHeat);
}

std::vector<HeatReason> heatReasons(const LineExplanation& e) {
  std::vector<HeatReason> out;
  if (!e.scored || !(e.heat > 0)) return out;
  for (const HeatTerm& t : e.terms) {
    if (t.value > 0 && e.complexity > 0) {
      out.push_back({termText(t, e), 0.0, e.heatBase * t.value / e.complexity, {}});
    }
  }
  auto lift = [&](std::string text, double factor, std::vector<int32_t> lines = {}) {
    if (factor > 1) out.push_back({std::move(text), factor, e.heat * (1 - 1 / factor), std::move(lines)});
  };
  const double i = e.intensity;
  std::string block = std::string(e.blockKeywordDensity >= 1 ? "inside a busy block of "
                                                             : "inside a block of ") +
                      std::to_string(e.blockLines) + (e.blockLines == 1 ? " line" : " lines");
  if (e.blockTypeKeywords > 0) {
    block += " with " + std::to_string(e.blockTypeKeywords) +
             (e.blockTypeKeywords == 1 ? " type keyword" : " type keywords");
  }
  lift(block, (e.blockFactor - 1) * i + 1);
  lift("nested " + std::to_string(e.depth) + " deep", e.depthFactor);
  lift("keyword trend of the lines above", e.trendFactor);
  std::vector<int32_t> near;
  std::string spread = spreadText(e, near);
  lift(spread, (e.spreadFactor - 1) * i + 1, near);
  std::stable_sort(out.begin(), out.end(),
                   [](const HeatReason& a, const HeatReason& b) { return a.points > b.points; });
  return out;
}

std::string shortReason(const LineExplanation& e) {
  const std::vector<HeatReason> reasons = heatReasons(e);
  // The squared load says little on its own: name what made it.
  for (const HeatReason& r : reasons) {
    if (r.text.rfind("control-flow load", 0) == 0 || r.text == "a line of code") continue;
    return r.text;
  }
  return reasons.empty() ? std::string() : reasons.front().text;
}

}  // namespace varnholt_app
