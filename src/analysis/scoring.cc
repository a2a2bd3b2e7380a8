#include "analysis/scoring.h"

#include <algorithm>
#include <cmath>

#include "analysis/heat_math.h"

namespace varnholt_app {

double lineComplexity(const LineFacts& f, const LanguageProfile& p, bool looksLikeDeclaration) {
  if (f.isBlank) return 0.0;
  const int32_t t = std::max(std::min(f.tokenCount, 60) - 10, 0);
  double s = t * p.wTokens + p.wBase + f.loopKw * p.wLoop + f.branchKw * p.wBranch +
             f.exceptionKw * p.wException + f.typeKw * p.wType;
  if (f.functionKw > 0) s += f.functionKw * p.wFunction;
  if (looksLikeDeclaration) s += 0.5 * p.wFunction;
  s += f.boolOps * p.wBoolOp + f.ternaries * p.wTernary;
  if (f.dots >= 4) s += (f.dots - 3) * p.wDot;
  if (p.longLinePenalty) {
    if (f.lineLength >= 240) {
      s += 0.75 * p.wVeryLongLine;
    } else if (f.lineLength >= 140) {
      s += 0.75 * p.wLongLine;
    }
  }
  s = std::max(s, 0.0);
  const double k = keywordWeight(f);
  if (k > 0) s = s + 0.16 * (k * k);
  if (t >= 1) {
    const int32_t capped = std::min(t, 40);
    s = s + 0.0018 * (capped * capped);
  }
  return std::max(s, 0.0);
}

double lineHeatFromComplexity(double x, const LanguageProfile& p) {
  if (!(x > 0)) return 0.0;
  const double ref =
      p.compiled.ready
          ? p.compiled.heatRef
          : std::max(10 * p.wTokens + p.wBase + 0.5 * p.wBranch + 0.3 * p.wLoop + 0.8 * p.wBoolOp,
                     0.08);
  const double y = std::max(1.55 * x / ref, 0.0);
  return 95 * portablePow(std::max(portableLog(1 + y), 0.0), 1.45);
}

}  // namespace varnholt_app
