#pragma once
// Explanations of a line's heat as JSON: for the report's --explain, the
// page's "setExplain" answer and the reason tags of the audit rows.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/explain.h"

namespace varnholt_app {

// One JSON object with every term and factor, numbers exact (shortest
// round-trip form), then the reasons in plain words, largest first.
void appendExplanationJson(std::string& out, const LineExplanation& line);

// {"type":"setExplain","path_b64":...,"line":N,"explanation":{...} or null}
std::string buildExplainMessage(std::string_view path, int32_t line,
                                const LineExplanation* explanation);

// {"type":"setAuditReasons","reasons":["...",...]}, aligned with setAudit's items.
std::string buildAuditReasonsMessage(const std::vector<std::string>& reasons);

}  // namespace varnholt_app
