#pragma once
// How both lexers step over comments and string literals, inline because
// both call them in their inner loops.

#include <cstring>
#include <string>

#include "analysis/language_profile.h"
#include "analysis/lexer.h"

namespace varnholt_app {

inline bool matchesAt(const char* p, const char* end, const std::string& marker) {
  return !marker.empty() && static_cast<size_t>(end - p) >= marker.size() &&
         std::memcmp(p, marker.data(), marker.size()) == 0;
}

// Skips inside a block comment; returns where scanning goes on.
inline const char* skipBlockComment(const char* p, const char* end, const LanguageProfile& profile,
                             LexState& state) {
  const std::string& close = profile.blockClose;
  if (!profile.hasBlockComments || close.empty()) return end;
  if (close.size() == 2) {
    // Look for the rarer second byte: comment text is full of "*".
    const char* from = p + 1;
    while (from < end) {
      const auto* q = static_cast<const char*>(std::memchr(from, close[1], static_cast<size_t>(end - from)));
      if (q == nullptr) return end;
      if (q[-1] == close[0]) {
        state.inBlockComment = false;
        return q + 1;
      }
      from = q + 1;
    }
    return end;
  }
  const std::string_view rest(p, static_cast<size_t>(end - p));
  const size_t at = rest.find(close);
  if (at == std::string_view::npos) return end;
  state.inBlockComment = false;
  return p + at + close.size();
}

// Skips inside a string literal; returns where scanning goes on.
inline const char* skipString(const char* p, const char* end, LexState& state) {
  switch (state.stringKind) {
    case 1:
    case 2: {
      const char quote = state.stringKind == 2 ? '"' : '\'';
      while (p < end) {
        const char c = *p++;
        if (state.escapePending) {
          state.escapePending = false;
        } else if (c == quote) {
          state.inString = false;
          state.stringKind = 0;
          return p;
        } else if (c == '\\') {
          state.escapePending = true;
        }
      }
      return end;
    }
    case 3: {
      const auto* q = static_cast<const char*>(std::memchr(p, '`', static_cast<size_t>(end - p)));
      if (q == nullptr) return end;
      state.inString = false;
      state.stringKind = 0;
      return q + 1;
    }
    case 4:
    case 5: {
      const char quote = state.stringKind == 5 ? '"' : '\'';
      while (end - p >= 3) {
        const auto* q = static_cast<const char*>(std::memchr(p, quote, static_cast<size_t>(end - p)));
        if (q == nullptr || end - q < 3) return end;
        if (q[1] == quote && q[2] == quote) {
          state.inString = false;
          state.stringKind = 0;
          return q + 3;
        }
        p = q + 1;
      }
      return end;
    }
    default:
      // A kind no rule closes: the literal swallows the rest of the line.
      return end;
  }
}

inline void openString(LexState& state, int32_t kind) {
  state.inString = true;
  state.stringKind = kind;
  state.escapePending = false;
}

inline uint8_t insideKind(const LexState& state) {
  if (state.inBlockComment) return 1;
  if (!state.inString) return 0;
  return state.stringKind >= 3 ? kInsideMultiLineString : 2;
}


}  // namespace varnholt_app
