// Any bytes through the line splitter, the lexer of every family and the
// per-file analysis: one entry per line, every heat finite and in range,
// the sum taken in line order, agreement with the literal model, and
// explanations that recompose every line's heat.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "analysis/explain.h"
#include "analysis/file_heat.h"
#include "analysis/lexer.h"
#include "analysis/line_split.h"
#include "analysis/text_scanner.h"
#include "reference_model.h"

namespace {

using namespace varnholt_app;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> lines = splitLines(text);
  const std::vector<std::string> expectedLines = reference::splitLines(text);
  check(lines.size() == countSplitLines(text), "countSplitLines agrees with splitLines");
  check(std::equal(lines.begin(), lines.end(), expectedLines.begin(), expectedLines.end()), "lines as the literal model");
  for (std::string_view line : lines) {
    check(line.data() >= text.data() && line.data() + line.size() <= text.data() + size, "lines are views into the text");
  }

  static AnalysisScratch scratch;
  for (LanguageId language : {LanguageId::Swift, LanguageId::C, LanguageId::Python, LanguageId::JavaScript,
                              LanguageId::Go, LanguageId::Rust, LanguageId::Java, LanguageId::Shell}) {
    const LanguageProfile& profile = profileForLanguage(language);
    LexState fast, slow;
    for (std::string_view line : lines) {
      const LineFacts f = scanLine(line, fast, profile);
      check(reference::sameFacts(f, reference::scanLine(line, slow, profile)), "line facts as the literal model");
      check(f.tokenCount >= 0 && f.tokenCount <= f.lineLength, "token count in range");
    }
    for (ScanWidth width : {ScanWidth::kPlain, ScanWidth::kAvx2, ScanWidth::kAvx512}) {
      TextScanner scanner(text, profile, width);
      ScannedLine got[5];
      LexState lex;
      size_t i = 0;
      while (const size_t n = scanner.next(got, 5)) {
        for (size_t k = 0; k < n; ++k, ++i) {
          check(i < lines.size() && got[k].text.data() == lines[i].data() && got[k].text == lines[i], "scanner lines");
          const LineFacts a = got[k].facts, b = scanLine(lines[i], lex, profile);
          check(reference::sameFacts(a, b) && a.codeKeywordBits == b.codeKeywordBits && a.leftCode == b.leftCode &&
                    a.codeParen == b.codeParen && a.blankPrefix == b.blankPrefix,
                "scanner facts as scanLine's");
        }
      }
      check(i == lines.size(), "scanner gives every line");
    }
    std::vector<double> heat, expected;
    double sum = -1, expectedSum = 0, total = 0;
    analyzeText(text, language, heat, sum, scratch);
    for (double h : heat) {
      check(std::isfinite(h) && h >= 0 && h <= 1e9, "heat finite and within 0..1e9");
      total += h;
    }
    check(sum == total, "heatRaw is the sum in line order");
    reference::analyzeText(text, profile, expected, expectedSum);
    check(heat == expected, "heat as the literal model");
    std::vector<int32_t> numbers(heat.size());
    for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<int32_t>(i + 1);
    const std::vector<LineExplanation> why = explainText(text, profile, numbers);
    check(why.size() == heat.size(), "one explanation per line");
    for (size_t i = 0; i < why.size(); ++i) {
      check(why[i].heat == heat[i] && recomposeHeat(why[i]) == heat[i], "recomposed heat is the line's heat");
    }
  }
  return 0;
}
