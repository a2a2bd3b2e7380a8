#pragma once
// Turns one line's counts into its complexity and its base heat.

#include "analysis/language_profile.h"
#include "analysis/lexer.h"

namespace varnholt_app {

// The fixed weight of a line's control-flow and operator load, the same in
// every family.
inline double keywordWeight(const LineFacts& f) {
  return 1.35 * f.loopKw + 1.15 * f.branchKw + 1.55 * f.ternaries + 0.6 * f.boolOps +
         1.1 * f.exceptionKw;
}

// Weighted sum of the line's counts; 0 for a blank line, never negative.
double lineComplexity(const LineFacts& facts, const LanguageProfile& profile,
                      bool looksLikeDeclaration);

// Base heat of a complexity value: 0 for x <= 0, strictly increasing above.
double lineHeatFromComplexity(double x, const LanguageProfile& profile);

}  // namespace varnholt_app
