#include "reference_model.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "analysis/heat_math.h"
#include "analysis/scoring.h"

namespace varnholt_app::reference {

namespace {

bool at(std::string_view line, size_t i, const std::string& marker) {
  return !marker.empty() && line.size() - i >= marker.size() &&
         line.compare(i, marker.size(), marker) == 0;
}

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

bool wordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether the "?" at line[i] is a ternary, each family's rule written out.
bool ternaryAt(std::string_view line, size_t i, const LanguageProfile& p) {
  if (!p.countTernary) return false;
  if (p.questionRule == QuestionRule::kEvery) return true;
  const std::string prev(i > 0 ? line.substr(i - 1, 1) : "");
  const std::string next(line.substr(i + 1, 1));
  const std::string next2(line.substr(i + 1, 2));
  if (prev == "?" || next == "?" || prev == "<") return false;
  const size_t before = line.substr(0, i).find_last_not_of(" \t");
  if (before != std::string_view::npos && std::string_view("(,:").find(line[before]) != std::string_view::npos) {
    return false;
  }
  if (next == "." && !(next2.size() == 2 && next2[1] >= '0' && next2[1] <= '9')) return false;
  if (next2 == "->") return false;
  for (const char* stop : {"[", ":", ">", ",", ")", ";"}) {
    if (next == stop) return false;
  }
  if (p.questionRule == QuestionRule::kScript) return true;
  const bool typeBefore = !prev.empty() && (wordByte(prev[0]) || prev == ">" || prev == "]");
  if (typeBefore && (next.empty() || next == " " || next == "\t" || next == "\r")) return false;
  std::string_view rest = line.substr(i + 1);
  while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
  for (std::string_view word : {std::string_view("extends"), std::string_view("super")}) {
    if (rest.substr(0, word.size()) == word && (rest.size() == word.size() || !wordByte(rest[word.size()]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::string current;
  for (char c : text) {
    if (c == '\n') {
      if (!current.empty() && current.back() == '\r') current.pop_back();
      lines.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty() && current.back() == '\r') current.pop_back();
  lines.push_back(current);
  return lines;
}

LineFacts scanLine(std::string_view line, LexState& st, const LanguageProfile& p) {
  LineFacts f;
  std::vector<std::string> tokens;
  std::string buffer;
  bool code = false;
  auto flush = [&] {
    if (!buffer.empty()) tokens.push_back(buffer);
    buffer.clear();
  };
  const bool wordOps = p.lineComment == "#" && p.tripleQuoteStrings;
  f.startsInside = st.inBlockComment ? 1 : (!st.inString ? 0 : (st.stringKind >= 3 ? 3 : 2));
  char last = 0;
  int32_t bracketOpens = 0, bracketCloses = 0;
  st.escapePending = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (st.inBlockComment) {
      const bool closes = p.hasBlockComments && at(line, i, p.blockClose);
      if (closes) st.inBlockComment = false;
      i += closes ? p.blockClose.size() : 1;
      continue;
    }
    if (st.inString) {
      if (st.stringKind == 1 || st.stringKind == 2) {
        const char quote = st.stringKind == 2 ? '"' : '\'';
        if (st.escapePending) {
          st.escapePending = false;
        } else if (c == quote) {
          st.inString = false;
          st.stringKind = 0;
        } else if (c == '\\') {
          st.escapePending = true;
        }
        ++i;
      } else if (st.stringKind == 3 || st.stringKind == 4 || st.stringKind == 5) {
        const std::string close = st.stringKind == 3 ? "`" : std::string(3, st.stringKind == 5 ? '"' : '\'');
        const bool closes = at(line, i, close);
        if (closes) st.inString = false, st.stringKind = 0;
        i += closes ? close.size() : 1;
      } else {
        ++i;
      }
      continue;
    }
    if (at(line, i, p.lineComment)) {
      flush();
      break;
    }
    if (p.hasBlockComments && at(line, i, p.blockOpen)) {
      flush();
      st.inBlockComment = true;
      i += p.blockOpen.size();
      continue;
    }
    const bool triple = p.tripleQuoteStrings && (at(line, i, "\"\"\"") || at(line, i, "'''"));
    if (triple || c == '"' || c == '\'' || (c == '`' && p.backtickStrings)) {
      flush();
      last = c;
      st.inString = true;
      st.stringKind = triple ? (c == '"' ? 5 : 4) : (c == '"' ? 2 : (c == '\'' ? 1 : 3));
      i += triple ? 3 : 1;
      continue;
    }
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (letter || (c >= '0' && c <= '9' && !buffer.empty())) {
      buffer.push_back(c);
    } else {
      flush();
    }
    const bool pair = (c == '&' || c == '|') && i + 1 < line.size() && line[i + 1] == c &&
                      p.countBooleanOps && !wordOps;
    f.openBraces += c == '{';
    f.closeBraces += c == '}';
    f.dots += c == '.';
    f.boolOps += pair;
    f.ternaries += c == '?' && ternaryAt(line, i, p);
    bracketOpens += c == '(' || c == '[' || c == '{';
    bracketCloses += c == ')' || c == ']' || c == '}';
    if (c != '\t' && c != '\r' && c != ' ') last = c;
    code = code || (c != '\t' && c != '\r' && c != ' ');
    i += pair ? 2 : 1;
  }
  flush();
  f.isBlank = !code && !st.inBlockComment && !st.inString;
  f.hasCode = code;
  f.endsInside = st.inBlockComment ? 1 : (!st.inString ? 0 : (st.stringKind >= 3 ? 3 : 2));
  if (p.indentBlocks) {
    f.openBrackets = bracketOpens;
    f.closeBrackets = bracketCloses;
    f.lastCodeByte = last;
  }
  f.tokenCount = static_cast<int32_t>(tokens.size());
  for (const std::string& t : tokens) {
    const std::string w = lower(t);
    f.loopKw += p.loopKeywords.count(w) ? 1 : 0;
    f.branchKw += p.branchKeywords.count(w) ? 1 : 0;
    f.exceptionKw += p.exceptionKeywords.count(w) ? 1 : 0;
    f.functionKw += p.functionKeywords.count(w) ? 1 : 0;
    f.typeKw += p.typeKeywords.count(w) ? 1 : 0;
    if (wordOps && p.countBooleanOps && (w == "and" || w == "or")) ++f.boolOps;
  }
  f.lineLength = static_cast<int32_t>(line.size());
  return f;
}

bool sameFacts(const LineFacts& a, const LineFacts& b) {
  return a.isBlank == b.isBlank && a.tokenCount == b.tokenCount && a.openBraces == b.openBraces &&
         a.closeBraces == b.closeBraces && a.dots == b.dots && a.boolOps == b.boolOps &&
         a.ternaries == b.ternaries && a.loopKw == b.loopKw && a.branchKw == b.branchKw &&
         a.exceptionKw == b.exceptionKw && a.functionKw == b.functionKw && a.typeKw == b.typeKw &&
         a.lineLength == b.lineLength && a.hasCode == b.hasCode && a.startsInside == b.startsInside &&
         a.endsInside == b.endsInside &&
         a.openBrackets == b.openBrackets && a.closeBrackets == b.closeBrackets &&
         a.lastCodeByte == b.lastCodeByte;
}

namespace {

struct Record {
  LineFacts facts;
  bool declaration = false;
  bool skipped = true;
  int32_t depth = 0;
  int32_t blockId = 0;
  double heatBase = 0, rawScore = 0, intensity = 0, keywordTrend = 0, tokenTrend = 0, spread = 0;
};

struct Block {
  int32_t lineCount = 0;
  int32_t typeKwSum = 0;
  double keywordSum = 0;
};

const char* const kModifiers[] = {"operator", "constexpr", "inline",   "static",
                                  "virtual",  "public",    "private",  "protected",
                                  "override", "final",     "template", "typename"};

double kWeight(const LineFacts& f) {
  return 1.35 * f.loopKw + 1.15 * f.branchKw + 1.55 * f.ternaries + 0.6 * f.boolOps +
         1.1 * f.exceptionKw;
}

}  // namespace

void analyzeText(std::string_view text, const LanguageProfile& p, std::vector<double>& heat,
                 double& heatRaw) {
  const std::vector<std::string> lines = splitLines(text);
  heat.clear();
  heatRaw = 0;
  LexState st;
  std::vector<int32_t> stack{0};
  int32_t nextBlockId = 1;
  int32_t depth = 0;
  double kt = 0, tt = 0;
  std::vector<Record> recs;
  // Indentation blocks: the indentation of each open block's header.
  std::vector<int64_t> headers{-1};
  int64_t openBrackets = 0, statementIndent = 0, headerIndent = 0;
  bool afterBackslash = false, header = false;
  for (const std::string& line : lines) {
    Record r;
    r.facts = reference::scanLine(line, st, p);
    const LineFacts& f = r.facts;
    if (p.functionKeywords.empty()) {
      bool loopOrBranch = false, modifier = false;
      for (const std::string& w : wordTokens(line)) {
        if (p.loopKeywords.count(w) || p.branchKeywords.count(w)) loopOrBranch = true;
        for (const char* m : kModifiers) modifier = modifier || w == m;
      }
      r.declaration = !loopOrBranch && (modifier || (line.find('(') != std::string::npos &&
                                                     line.find('{') != std::string::npos));
    }
    if (p.indentBlocks) {
      int64_t width = 0;
      size_t first = 0;
      while (first < line.size() && (line[first] == ' ' || line[first] == '\t' || line[first] == '\r')) {
        width = line[first] == ' ' ? width + 1 : (line[first] == '\t' ? width + 8 - width % 8 : width);
        ++first;
      }
      const bool statement = f.startsInside == 0 && openBrackets == 0 && !afterBackslash &&
                             first < line.size() && line[first] != '#';
      if (statement) {
        while (headers.size() > 1 && headers.back() >= width) {
          headers.pop_back();
          stack.pop_back();
        }
        if (header && width > headerIndent) {
          headers.push_back(headerIndent);
          stack.push_back(nextBlockId++);
        }
        header = false;
        statementIndent = width;
      }
      depth = std::min(static_cast<int32_t>(headers.size()) - 1, 512);
    }
    r.depth = depth;
    r.blockId = stack.back();
    const size_t first = line.find_first_not_of(" \t\r\n"), last = line.find_last_not_of(" \t\r\n");
    const std::string trimmed = first == std::string::npos ? "" : line.substr(first, last - first + 1);
    const double k = kWeight(f);
    const bool insideString = !f.hasCode && (f.startsInside == 3 || f.endsInside == 3);
    const bool scored = !f.isBlank && !insideString && !isTrivialLine(trimmed) &&
                        (f.tokenCount > 0 || f.openBraces + f.closeBraces == 0 || f.branchKw ||
                         f.loopKw || f.exceptionKw || f.boolOps || f.ternaries || f.dots);
    if (scored) {
      r.skipped = false;
      r.heatBase = lineHeatFromComplexity(lineComplexity(f, p, r.declaration), p);
      r.rawScore = std::max(k + 0.055 * std::max(std::min(f.tokenCount, 60) - 12, 0) +
                                0.22 * std::max(f.dots - 3, 0) + 0.08 * std::min(f.typeKw, 10),
                            0.0);
      r.intensity = clamp((r.rawScore - 1.2) * 0.25, 0, 1);
    }
    kt = 0.92 * kt + 0.08 * k;
    tt = 0.94 * tt + 0.06 * std::min(f.tokenCount, 40);
    r.keywordTrend = kt;
    r.tokenTrend = tt;
    if (p.indentBlocks) {
      openBrackets = std::max<int64_t>(openBrackets + f.openBrackets - f.closeBrackets, 0);
      if (f.lastCodeByte != 0) {
        afterBackslash = f.lastCodeByte == '\\';
        header = openBrackets == 0 && f.lastCodeByte == ':';
        headerIndent = statementIndent;
      }
    } else {
      for (int32_t i = 0; i < f.openBraces; ++i) stack.push_back(nextBlockId++);
      for (int32_t i = 0; i < f.closeBraces && stack.size() > 1; ++i) stack.pop_back();
      depth = std::clamp(depth + f.openBraces - f.closeBraces, 0, 512);
    }
    recs.push_back(r);
  }
  std::vector<Block> blocks(static_cast<size_t>(std::max(nextBlockId, 1)));
  for (const Record& r : recs) {
    if (r.skipped || r.blockId < 0 || r.blockId >= static_cast<int32_t>(blocks.size())) continue;
    Block& b = blocks[static_cast<size_t>(r.blockId)];
    b.lineCount += 1;
    b.typeKwSum += r.facts.typeKw;
    b.keywordSum += kWeight(r.facts);
  }
  double f = 0;
  for (Record& r : recs) {
    f = (!r.skipped && r.rawScore > 1.65) ? 0.55 * r.rawScore + 0.6 * f : 0.6 * f;
    r.spread = f;
  }
  double g = 0;
  for (size_t i = recs.size(); i-- > 0;) {
    Record& r = recs[i];
    g = (!r.skipped && r.rawScore > 1.65) ? 0.55 * r.rawScore + 0.6 * g : 0.6 * g;
    r.spread = std::max(r.spread, g);
  }
  for (const Record& r : recs) {
    double h = 0;
    if (!r.skipped && r.heatBase > 0) {
      const double in = r.intensity;
      const int32_t d = std::min(r.depth, 24);
      double bf = 1;
      if (r.blockId >= 0 && r.blockId < static_cast<int32_t>(blocks.size())) {
        const Block& b = blocks[static_cast<size_t>(r.blockId)];
        const int32_t n = std::max(b.lineCount, 0);
        const int32_t s = std::max(b.typeKwSum, 0);
        const double a = b.lineCount > 0 ? b.keywordSum / b.lineCount : 0;
        bf = (1 + 0.12 * portableLog(1.0 + n)) * (1 + 0.18 * portableLog(1.0 + s)) *
             (1 + 0.1 * clamp(a / 3.5, 0, 1)) * (1 + 0.008 * d);
      }
      const double t =
          ((1 + 0.03 * clamp(0.25 * r.keywordTrend, 0, 1)) * (1 + 0.018 * clamp(r.tokenTrend / 18, 0, 1)) - 1) * in + 1;
      const double dd = (0.007 * (d * d) + 0.012 * d) * in + 1;
      double pf = 1;
      if (r.spread > 0) {
        pf = 1 + 1.15 * clamp((r.spread - 2) / 3.5, 0, 1) *
                     clamp(portablePow(std::max(portableLog(1 + r.spread), 0.0), 1.35) / 4.5, 0, 1);
      }
      h = clamp(((bf - 1) * in + 1) * r.heatBase * t * dd * ((pf - 1) * in + 1), 0, 1e9);
    }
    heat.push_back(h);
    heatRaw += h;
  }
}

}  // namespace varnholt_app::reference
