// Any bytes through the line splitter, the lexer of every family and the
// per-file analysis: one entry per line, every heat finite and in range,
// the sum taken in line order, and agreement with the literal model.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "analysis/file_heat.h"
#include "analysis/lexer.h"
#include "reference_model.h"

namespace {

using namespace varnholt_app;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

const LanguageId kFamilies[] = {LanguageId::Swift,      LanguageId::C,  LanguageId::Python,
                                LanguageId::JavaScript, LanguageId::Go, LanguageId::Rust,
                                LanguageId::Java,       LanguageId::Shell};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> lines = splitLines(text);
  check(lines.size() == countSplitLines(text), "countSplitLines agrees with splitLines");
  const std::vector<std::string> expectedLines = reference::splitLines(text);
  check(lines.size() == expectedLines.size(), "line count as the literal model");
  for (size_t i = 0; i < lines.size(); ++i) {
    check(lines[i] == expectedLines[i], "line text as the literal model");
    check(lines[i].data() >= text.data() && lines[i].data() + lines[i].size() <= text.data() + size,
          "lines are views into the text");
  }

  static AnalysisScratch scratch;
  for (LanguageId language : kFamilies) {
    const LanguageProfile& profile = profileForLanguage(language);
    LexState fast, slow;
    for (std::string_view line : lines) {
      const LineFacts f = scanLine(line, fast, profile);
      check(reference::sameFacts(f, reference::scanLine(line, slow, profile)),
            "line facts as the literal model");
      check(f.lineLength == static_cast<int32_t>(line.size()), "line length");
      check(f.tokenCount >= 0 && f.tokenCount <= f.lineLength, "token count in range");
    }

    std::vector<double> heat;
    double sum = -1;
    analyzeText(text, language, heat, sum, scratch);
    check(heat.size() == lines.size(), "one entry per line");
    double total = 0;
    for (double h : heat) {
      check(std::isfinite(h) && h >= 0 && h <= 1e9, "heat finite and within 0..1e9");
      total += h;
    }
    check(sum == total, "heatRaw is the sum in line order");

    std::vector<double> expected;
    double expectedSum = 0;
    reference::analyzeText(text, profile, expected, expectedSum);
    check(heat == expected, "heat as the literal model");
  }
  return 0;
}
