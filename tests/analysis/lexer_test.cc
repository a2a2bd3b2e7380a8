#include "analysis/lexer.h"
#include "analysis/line_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnholt_app {
namespace {

// The facts of the last line of `text`, scanned line by line with one state;
// "blank" or "t<tokens> l<loops> b<branches> o<bool ops> ?<ternaries>
// .<dots> {<opens> }<closes>".
std::string factsOfLastLine(std::string_view text, LanguageId language) {
  LexState state;
  LineFacts f;
  for (std::string_view line : splitLines(text)) f = scanLine(line, state, profileForLanguage(language));
  if (f.isBlank) return "blank";
  // Appended in steps: mingw's gcc 12 warns falsely (-Wrestrict) on "literal" + string.
  std::string out;
  for (const auto& [tag, n] : {std::pair{"t", f.tokenCount}, {" l", f.loopKw}, {" b", f.branchKw},
                               {" o", f.boolOps}, {" ?", f.ternaries}, {" .", f.dots},
                               {" {", f.openBraces}, {" }", f.closeBraces}}) {
    out.append(tag).append(std::to_string(n));
  }
  return out;
}

// Hand-checked lines; the differential test covers the rest against the
// literal model, so these pin the rules where both could be wrong alike.
TEST(ScanLine, HandCheckedLines) {
  using L = LanguageId;
  const struct {
    L language;
    const char* text;
    const char* facts;
  } cases[] = {
      {L::C, "a /* if { */ b \"for . }\" c 'while' // do {", "t3 l0 b0 o0 ?0 .0 {0 }0"},
      {L::C, "   // only a comment", "blank"},
      {L::C, "42", "t0 l0 b0 o0 ?0 .0 {0 }0"},
      {L::C, "/* open\n inside\n end */", "blank"},
      {L::C, "/* open\n end */ x", "t1 l0 b0 o0 ?0 .0 {0 }0"},
      {L::C, "x = \"one\\\n  if { \" + y", "t1 l0 b0 o0 ?0 .0 {0 }0"},
      {L::C, R"(s = "a \" if" + b)", "t2 l0 b0 o0 ?0 .0 {0 }0"},
      {L::C, R"(s = "a \\" + if)", "t2 l0 b1 o0 ?0 .0 {0 }0"},
      {L::C, R"(c = '\'' + d)", "t2 l0 b0 o0 ?0 .0 {0 }0"},
      {L::C, "s = \"abc\\\n\" if", "t1 l0 b1 o0 ?0 .0 {0 }0"},  // no escape across lines
      {L::Python, "x = \"\"\"doc if\nstill \" for", "t0 l0 b0 o0 ?0 .0 {0 }0"},
      {L::Python, "x = \"\"\"doc\nend\"\"\" if y", "t2 l0 b1 o0 ?0 .0 {0 }0"},
      {L::C, "x = \"\"\"a\nb\" if", "t1 l0 b1 o0 ?0 .0 {0 }0"},
      {L::C, "For WHILE If x2y 2x _init 123 9lives", "t7 l2 b1 o0 ?0 .0 {0 }0"},
      {L::C, "2if for_each ifx \xC3\xA9if\xC3\xA9", "t4 l0 b2 o0 ?0 .0 {0 }0"},
      {L::C, "a && b || c & d | e ? f : g.h.i { } }", "t9 l0 b0 o2 ?1 .2 {1 }2"},
      {L::C, "a &&& b ||| c and d", "t5 l0 b0 o2 ?0 .0 {0 }0"},
      {L::Python, "if a and b or not c && d || e:", "t9 l0 b1 o2 ?0 .0 {0 }0"},  // words, not signs
      {L::JavaScript, "x = `if ${a} {` + y", "t2 l0 b0 o0 ?0 .0 {0 }0"},
      {L::TypeScript, "`a\nif`", "blank"},
      {L::Rust, "`if` a`b", "t3 l0 b1 o0 ?0 .0 {0 }0"},
      // Go raw strings: a quote inside opens nothing, they span lines, and
      // a backslash before the closing backtick escapes nothing.
      {L::Go, "s := `say \"hi`\nif !ok || done {", "t3 l0 b1 o1 ?0 .0 {1 }0"},
      {L::Go, "re := `a\nif b {", "t0 l0 b0 o0 ?0 .0 {0 }0"},
      {L::Go, "re := `a\nc\\`\nx := y.z", "t3 l0 b0 o0 ?0 .1 {0 }0"},
      {L::Python, "x # if", "t1 l0 b0 o0 ?0 .0 {0 }0"},
      {L::C, "x # if", "t2 l0 b1 o0 ?0 .0 {0 }0"},
      {L::Shell, "x /* if", "t2 l0 b1 o0 ?0 .0 {0 }0"},
      {L::C, "x /*/ if */ y", "t2 l0 b0 o0 ?0 .0 {0 }0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(factsOfLastLine(c.text, c.language), c.facts) << c.text;
  }
}

// "?" that is not a ternary, next to real ternaries in the same languages.
TEST(ScanLine, QuestionMarksByFamily) {
  using L = LanguageId;
  const struct {
    L language;
    const char* text;
    int32_t ternaries;
  } cases[] = {
      {L::Java, "static void f(BiFunction<? super K, ? super V, ? extends U> r) {", 0},
      {L::Java, "List<?> xs = ok ? a : (b ? c : d);", 2},
      {L::Java, "return ok\n    ? left", 1},  // across lines
      {L::Kotlin, "val name: String? = user?.name ?: \"x\"", 0},
      {L::Kotlin, "fun f(a: Int?, b: List<Int?>): Int?", 0},
      {L::CSharp, "int? n = a ?? b; c ?\?= d; var e = xs?[0]; int[]? f;", 0},
      {L::CSharp, "var x = a > b ? a : b; var y = ok ?", 2},
      {L::Php, "$n = $user?->name ?? 'anon';", 0},
      {L::Php, "<?php echo $a ? $b : $c;", 1},
      {L::Php, "function h(?Foo $a, ?int $b): ?int { return $a ? 1 : 2; }", 1},
      {L::Swift, "let v = try? f(x) as? Int ?? 0", 0},
      {L::Swift, "let v = x > 0 ? (y ? 1 : 2) : 3", 2},
      {L::TypeScript, "function f(a?: string, b?: number) {", 0},
      {L::JavaScript, "c = err?.exitCode ?? this.#p.exitCode ?? (err ? 1 : undefined)", 1},
      {L::JavaScript, "x = f?.(a) ?? g?.[0]; y = c ?.5 : 1; z = c? a : b", 2},
      {L::Rust, "let n = s.parse::<i32>()?; let m = f()?.g()?;", 0},
      {L::C, "p = q ? r : s; t = u?.v ?? w;", 4},  // C has no such forms: every "?" counts
  };
  for (const auto& c : cases) {
    LexState state;
    LineFacts f;
    for (std::string_view line : splitLines(c.text)) f = scanLine(line, state, profileForLanguage(c.language));
    EXPECT_EQ(f.ternaries, c.ternaries) << c.text;
  }
}

TEST(SplitLines, LineBreaksAndCounts) {
  using Lines = std::vector<std::string_view>;
  EXPECT_EQ(splitLines("a\r\r\nb\r"), (Lines{"a\r", "b"}));  // only a CR before LF or the end goes
  // Long texts take the counter's block path; it must still count exactly.
  for (size_t size : {15u, 16u, 17u, 31u, 32u, 33u, 4079u, 4080u, 4081u, 8160u, 8161u, 100000u}) {
    std::string many;
    size_t breaks = 0;
    for (size_t i = 0; i < size; ++i) {
      const bool nl = (i * 7919) % 5 < 2;
      many.push_back(nl ? '\n' : 'a');
      breaks += nl ? 1 : 0;
    }
    EXPECT_EQ(countSplitLines(many), breaks + 1) << size;
  }
}

}  // namespace
}  // namespace varnholt_app
