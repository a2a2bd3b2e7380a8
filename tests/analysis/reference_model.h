#pragma once
// A slow, literal model of the heat analysis: per-byte rules with a token
// buffer, keyword sets looked up one by one, real block ids and every
// factor computed for every line. The optimised code must agree with it bit
// for bit.

#include <string>
#include <string_view>
#include <vector>

#include "analysis/language_profile.h"
#include "analysis/lexer.h"
#include "analysis/line_split.h"

namespace varnholt_app::reference {

std::vector<std::string> splitLines(std::string_view text);

LineFacts scanLine(std::string_view line, LexState& state, const LanguageProfile& profile);

void analyzeText(std::string_view text, const LanguageProfile& profile, std::vector<double>& heat,
                 double& heatRaw);

// LineFacts fields the analysis reads compare equal.
bool sameFacts(const LineFacts& a, const LineFacts& b);

}  // namespace varnholt_app::reference
