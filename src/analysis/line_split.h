#pragma once
// Cutting a text into lines, and the lines that are never scored.

#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

namespace varnholt_app {

// Number of lines splitLines gives for `text`.
size_t countSplitLines(std::string_view text);

// Calls visit(line) for every line of `text` in order, exactly as
// splitLines cuts them: "\n" ends a line, one "\r" before it is dropped,
// a lone "\r" stays, and a final "\n" leaves an empty last line.
template <class Visit>
void forEachLine(std::string_view text, Visit&& visit) {
  if (text.empty()) return;
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = nl != nullptr ? nl : end;
    std::string_view line(p, static_cast<size_t>(stop - p));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    visit(line);
    if (nl == nullptr) return;
    p = nl + 1;
  }
}

// The lines of `text` as views into it, without their line breaks.
std::vector<std::string_view> splitLines(std::string_view text);

// `line` without spaces, tabs, "\r" and "\n" at either end.
std::string_view trimLine(std::string_view line);

// Lines that are never scored: empty, comment starts, preprocessor and import
// lines, and lines of brackets and separators only. Expects a trimmed line
// (trims again, which changes nothing for one).
bool isTrivialLine(std::string_view trimmedLine);

// isTrivialLine of the trimmed line, decided in one pass over the raw line;
// the first `knownBlanks` bytes are known to be blanks.
bool isTrivialUntrimmed(std::string_view line, size_t knownBlanks);

// False for a byte that neither is a blank nor can begin a trivial line: a
// line whose first byte after its blanks is one is never trivial.
// A letter may lead only "import ", "package " or "using ": `second` holds
// the byte that must follow it ("if", "int" and "u32" are never trivial).
// `comment`: "#" and "*" lead trivial lines only, "/" does before "/" or "*".
struct TrivialLeads {
  bool may[256];
  char second[256];
  bool comment[256];
  constexpr TrivialLeads() : may(), second(), comment() {
    for (char c : {'#', '*', '/'}) comment[static_cast<unsigned char>(c)] = true;
    for (char c : {' ', '\t', '\r', '\n', '*', '#', '/', '(', ')', ',', ';', '[', ']', '{', '}', 'i', 'p', 'u'}) {
      may[static_cast<unsigned char>(c)] = true;
    }
    second[static_cast<unsigned char>('i')] = 'm';
    second[static_cast<unsigned char>('p')] = 'a';
    second[static_cast<unsigned char>('u')] = 's';
  }
};
inline constexpr TrivialLeads kTrivialLeads;

}  // namespace varnholt_app
