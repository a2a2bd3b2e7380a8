#include "analysis/file_heat.h"
#include "analysis/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace varnholt_app {
namespace {

using Lines = std::vector<std::string_view>;

// Scans `text` line by line with one state, as the analysis does.
std::vector<LineFacts> scanAll(std::string_view text, LanguageId language) {
  const LanguageProfile& profile = profileForLanguage(language);
  LexState state;
  std::vector<LineFacts> out;
  for (std::string_view line : splitLines(text)) out.push_back(scanLine(line, state, profile));
  return out;
}

LineFacts scanOne(std::string_view line, LanguageId language = LanguageId::C) {
  LexState state;
  return scanLine(line, state, profileForLanguage(language));
}

TEST(SplitLines, LineBreaks) {
  EXPECT_TRUE(splitLines("").empty());
  EXPECT_EQ(splitLines("a\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(splitLines("a\nb\n"), (Lines{"a", "b", ""}));
  EXPECT_EQ(splitLines("\n"), (Lines{"", ""}));
  EXPECT_EQ(splitLines("a\r\nb\r\n"), splitLines("a\nb\n"));
  // A lone CR does not split; only the CR right before a LF (or the end) goes.
  EXPECT_EQ(splitLines("a\rb\rc"), (Lines{"a\rb\rc"}));
  EXPECT_EQ(splitLines("a\r\r\nb\r"), (Lines{"a\r", "b"}));
  EXPECT_EQ(splitLines("\r"), (Lines{""}));
  const std::string text = "x\ny\n";
  EXPECT_EQ(splitLines(text)[1].data(), text.data() + 2);  // views, not copies

  // Long texts take the counter's block path; it must still count exactly.
  for (size_t size : {15u, 16u, 17u, 4079u, 4080u, 4081u, 100000u}) {
    std::string many;
    size_t breaks = 0;
    for (size_t i = 0; i < size; ++i) {
      const bool nl = (i * 7919) % 5 < 2;
      many.push_back(nl ? '\n' : 'a');
      breaks += nl ? 1 : 0;
    }
    EXPECT_EQ(countSplitLines(many), breaks + 1) << size;
    EXPECT_EQ(countSplitLines(std::string(size, '\n')), size + 1);
  }
}

TEST(ScanLine, Blankness) {
  EXPECT_FALSE(scanOne("x = 1; // note").isBlank);
  EXPECT_TRUE(scanOne("   // only a comment").isBlank);
  EXPECT_TRUE(scanOne("/* closed */").isBlank);
  EXPECT_TRUE(scanOne("\"a string\"").isBlank);
  EXPECT_TRUE(scanOne(" \t\r").isBlank);
  EXPECT_FALSE(scanOne(";").isBlank);
  EXPECT_FALSE(scanOne("42").isBlank);  // a number is code but no token
  EXPECT_EQ(scanOne("42").tokenCount, 0);

  const auto facts = scanAll("/* open\n inside\n end */\n end */ x\n\"unterminated\n", LanguageId::C);
  ASSERT_EQ(facts.size(), 6u);
  EXPECT_FALSE(facts[0].isBlank);  // the comment stays open
  EXPECT_FALSE(facts[1].isBlank);
  EXPECT_TRUE(facts[2].isBlank);   // closes with nothing after it
  EXPECT_FALSE(facts[3].isBlank);  // "end" and "*" are code again
  EXPECT_FALSE(facts[4].isBlank);  // a literal left open
}

TEST(ScanLine, CommentsAndStringsHideTheirContent) {
  const LineFacts f = scanOne("a /* if { */ b \"for . }\" c 'while' // do {");
  EXPECT_EQ(f.tokenCount, 3);
  EXPECT_EQ(f.loopKw + f.branchKw + f.openBraces + f.closeBraces + f.dots, 0);

  const auto multi = scanAll("x = \"one\\\n  if { \" + y\n", LanguageId::C);
  ASSERT_EQ(multi.size(), 3u);
  EXPECT_EQ(multi[0].tokenCount, 1);
  EXPECT_EQ(multi[1].tokenCount, 1);  // only y, after the literal closes
  EXPECT_EQ(multi[1].branchKw + multi[1].openBraces, 0);
}

TEST(ScanLine, Escapes) {
  EXPECT_EQ(scanOne(R"(s = "a \" if" + b)").tokenCount, 2);  // the escaped quote stays inside
  EXPECT_EQ(scanOne(R"(s = "a \\" + if)").branchKw, 1);      // an escaped backslash does not
  EXPECT_EQ(scanOne(R"(c = '\'' + d)").tokenCount, 2);
  // A backslash at the end of a line does not escape the next line's first byte.
  const auto facts = scanAll("s = \"abc\\\n\" if\n", LanguageId::C);
  EXPECT_EQ(facts[1].branchKw, 1);
  EXPECT_FALSE(facts[1].isBlank);
}

TEST(ScanLine, TripleQuotesOnlyInPython) {
  const auto py = scanAll("x = \"\"\"doc if\nstill \" for\nend\"\"\" if y\n", LanguageId::Python);
  EXPECT_EQ(py[0].tokenCount, 1);
  EXPECT_FALSE(py[1].isBlank);
  EXPECT_EQ(py[1].tokenCount, 0);
  EXPECT_EQ(py[2].tokenCount, 2);
  EXPECT_EQ(py[2].branchKw, 1);
  EXPECT_EQ(scanAll("'''a\n'''b\n", LanguageId::Python)[1].tokenCount, 1);
  // Elsewhere "" is an empty literal and the third quote opens another.
  const auto c = scanAll("x = \"\"\"a\nb\" if\n", LanguageId::C);
  EXPECT_EQ(c[0].tokenCount, 1);
  EXPECT_EQ(c[1].branchKw, 1);
}

TEST(ScanLine, TokensAndKeywordCase) {
  const LineFacts f = scanOne("For WHILE If x2y 2x _init 123 9lives");
  EXPECT_EQ(f.loopKw, 2);
  EXPECT_EQ(f.branchKw, 1);
  EXPECT_EQ(f.tokenCount, 7);  // For WHILE If x2y x _init lives
  EXPECT_EQ(scanOne("2if").branchKw, 1);  // the digit is dropped, "if" remains
  EXPECT_EQ(scanOne("for_each").loopKw, 0);
  EXPECT_EQ(scanOne("FOREACH ifx").loopKw + scanOne("ifx").branchKw, 0);
  EXPECT_EQ(scanOne("\xC3\xA9if\xC3\xA9").branchKw, 1);  // non-ASCII bytes end tokens
}

TEST(ScanLine, OperatorsAndPunctuation) {
  const LineFacts c = scanOne("a && b || c & d | e ? f : g.h.i { } }");
  EXPECT_EQ(c.boolOps, 2);
  EXPECT_EQ(c.ternaries, 1);
  EXPECT_EQ(c.dots, 2);
  EXPECT_EQ(c.openBraces, 1);
  EXPECT_EQ(c.closeBraces, 2);
  EXPECT_EQ(scanOne("a &&& b").boolOps, 1);
  EXPECT_EQ(scanOne("a ||| b").boolOps, 1);

  const LineFacts py = scanOne("if a and b or not c && d || e:", LanguageId::Python);
  EXPECT_EQ(py.boolOps, 2);
  EXPECT_EQ(scanOne("AND Or", LanguageId::Python).boolOps, 2);
  EXPECT_EQ(scanOne("a and b", LanguageId::C).boolOps, 0);
  EXPECT_EQ(scanOne("a && b", LanguageId::Shell).boolOps, 1);  // "#" without triple quotes
}

TEST(ScanLine, BacktickStringsInJavaScriptAndGo) {
  const LineFacts js = scanOne("x = `if ${a} {` + y", LanguageId::JavaScript);
  EXPECT_EQ(js.tokenCount, 2);
  EXPECT_EQ(js.branchKw + js.openBraces, 0);
  const auto open = scanAll("`a\nif`\n", LanguageId::TypeScript);
  EXPECT_FALSE(open[0].isBlank);
  EXPECT_EQ(open[1].tokenCount, 0);

  const LineFacts rust = scanOne("`if`", LanguageId::Rust);
  EXPECT_EQ(rust.branchKw, 1);
  EXPECT_FALSE(rust.isBlank);
  EXPECT_EQ(scanOne("a`b", LanguageId::Rust).tokenCount, 2);
  EXPECT_FALSE(scanOne("`", LanguageId::Rust).isBlank);
}

// Go raw strings: a quote inside opens nothing, they span lines, and a
// backslash before the closing backtick escapes nothing.
TEST(ScanLine, GoRawStrings) {
  const char* const text =
      "s := `say \"hi`\n"
      "if !ok || done {\n"
      "re := `a\n"
      "if b {\n"
      "c\\`\n"
      "x := y.z\n";
  const auto f = scanAll(text, LanguageId::Go);
  EXPECT_EQ(f[1].branchKw, 1);
  EXPECT_EQ(f[1].boolOps, 1);
  EXPECT_EQ(f[1].openBraces, 1);
  EXPECT_EQ(f[3].branchKw + f[3].openBraces + f[3].tokenCount, 0);
  EXPECT_FALSE(f[3].isBlank);
  EXPECT_EQ(f[5].tokenCount, 3);
  EXPECT_EQ(f[5].dots, 1);

  std::vector<double> heat;
  double sum = 0;
  analyzeText(text, LanguageId::Go, heat, sum);
  EXPECT_GT(heat[1], 100.0);  // scored as code, not string content
  EXPECT_NEAR(heat[3], 10.3568, 1e-4);  // inside the raw string: the minimum
}

TEST(ScanLine, CommentMarkersPerFamily) {
  EXPECT_EQ(scanOne("x # if", LanguageId::Python).branchKw, 0);
  EXPECT_EQ(scanOne("x # if", LanguageId::C).branchKw, 1);
  EXPECT_EQ(scanOne("x /* if", LanguageId::Shell).branchKw, 1);
  EXPECT_EQ(scanOne("x // if", LanguageId::Python).branchKw, 1);
  EXPECT_EQ(scanOne("x /*/ if */ y").tokenCount, 2);  // "/*/" opens but does not close
  EXPECT_EQ(scanOne("a//b").tokenCount, 1);
}

TEST(ScanLine, LengthAndState) {
  const std::string line = "x\r";
  EXPECT_EQ(scanOne(line).lineLength, 2);
  EXPECT_TRUE(scanOne("\r").isBlank);
  LexState state;
  state.escapePending = true;  // never carried into a new line
  state.inString = true;
  state.stringKind = 2;
  EXPECT_EQ(scanLine("\" if", state, profileForLanguage(LanguageId::C)).branchKw, 1);
  EXPECT_FALSE(state.inString);
}

TEST(WordTokens, RawWords) {
  EXPECT_EQ(wordTokens("Static int 2x /* IF */ \"for\" a_b9;"),
            (std::vector<std::string>{"static", "int", "2x", "if", "for", "a_b9"}));
  EXPECT_TRUE(wordTokens(" ;{} ").empty());
  EXPECT_EQ(wordTokens("\xC3\xA9t\xC3\xA9"), (std::vector<std::string>{"t"}));
}

TEST(IsTrivialLine, Cases) {
  for (const char* s : {"", "// x", "/* x", "* x", "*/", "#include <a.h>", "#if X",
                        "import Foundation", "package main", "using namespace std;", "}",
                        "});", "[],;", "()"}) {
    EXPECT_TRUE(isTrivialLine(s)) << s;
  }
  for (const char* s : {"} else {", "x", "imports", "import", "usingX", "}; x", "( )", "/ x",
                        "\xEF\xBB\xBFimport Foundation"}) {
    EXPECT_FALSE(isTrivialLine(s)) << s;
  }
  EXPECT_TRUE(isTrivialLine(trimLine(" \t}\r\n")));
}

TEST(Profiles, FamiliesAndSharing) {
  const LanguageProfile& c = profileForLanguage(LanguageId::C);
  for (LanguageId id : {LanguageId::ObjC, LanguageId::Cpp, LanguageId::Metal, LanguageId::Json,
                        LanguageId::Css, LanguageId::PlainText, static_cast<LanguageId>(23),
                        static_cast<LanguageId>(-1)}) {
    EXPECT_EQ(&profileForLanguage(id), &c);
  }
  EXPECT_EQ(&profileForLanguage(LanguageId::TypeScript),
            &profileForLanguage(LanguageId::JavaScript));
  EXPECT_EQ(&profileForLanguage(LanguageId::Php), &profileForLanguage(LanguageId::Java));
  EXPECT_EQ(&profileForLanguage(LanguageId::Kotlin), &profileForLanguage(LanguageId::Ruby));
  EXPECT_NE(&profileForLanguage(LanguageId::Go), &profileForLanguage(LanguageId::Rust));

  EXPECT_TRUE(c.functionKeywords.empty());
  EXPECT_TRUE(profileForLanguage(LanguageId::Python).compiled.wordOperatorMode);
  EXPECT_FALSE(profileForLanguage(LanguageId::Shell).compiled.wordOperatorMode);
  EXPECT_FALSE(profileForLanguage(LanguageId::Python).hasBlockComments);
  EXPECT_EQ(profileForLanguage(LanguageId::Shell).wTokens, 0.012);
}

TEST(Profiles, ConcurrentFirstUseAgrees) {
  const LanguageProfile* seen[4] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &profileForLanguage(LanguageId::Swift); });
  }
  for (auto& t : threads) t.join();
  for (const LanguageProfile* p : seen) EXPECT_EQ(p, seen[0]);
}

TEST(Profiles, ChangedCopyIsPreparedAgain) {
  LanguageProfile p = profileForLanguage(LanguageId::C);
  p.countTernary = false;
  p.countBooleanOps = false;
  p.loopKeywords.insert("repeat_until");
  p.loopKeywords.insert("UPPER");  // a lower-cased token never equals it
  prepareProfile(p);
  LexState state;
  const LineFacts f = scanLine("a ? b && c REPEAT_UNTIL upper", state, p);
  EXPECT_EQ(f.ternaries, 0);
  EXPECT_EQ(f.boolOps, 0);
  EXPECT_EQ(f.loopKw, 1);
  EXPECT_EQ(f.tokenCount, 5);
}

}  // namespace
}  // namespace varnholt_app
