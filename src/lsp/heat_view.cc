#include "lsp/heat_view.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <unordered_map>

#include "analysis/language_profile.h"
#include "analysis/lexer.h"
#include "protocol/json.h"

namespace varnholt_app {

std::string relativeUnder(std::string_view root, std::string_view path) {
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.remove_suffix(1);
  if (root.empty() || path.size() <= root.size() || path.substr(0, root.size()) != root) return {};
  std::string_view rest = path.substr(root.size());
  if (root.back() != '/' && root.back() != '\\') {
    if (rest.front() != '/' && rest.front() != '\\') return {};
    rest.remove_prefix(1);
  }
  std::string out(rest);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

bool fileCounts(const ProjectFile& file, std::string_view root, const LspSettings& settings) {
  if (!fileInScope(file, settings.scope)) return false;
  if (file.stamp.size > settings.maxFileBytes) return false;
  if (settings.exclude.empty()) return true;
  const std::string relative = relativeUnder(root, file.path);
  for (const std::string& glob : settings.exclude) {
    if (globMatches(glob, relative)) return false;
  }
  return true;
}

ProjectStats computeProjectStats(const std::vector<WorkspaceModel>& workspaces,
                                 const LspSettings& settings) {
  ProjectStats stats;
  std::vector<const ProjectFile*> counted;
  for (const WorkspaceModel& w : workspaces) {
    if (w.model == nullptr) continue;
    for (const auto& entry : w.model->files) {
      if (fileCounts(entry.second, w.root, settings)) counted.push_back(&entry.second);
    }
  }
  // First pass: how many lines are scored, for the percentile's rank.
  uint64_t scored = 0, lines = 0;
  double sum = 0.0;
  for (const ProjectFile* f : counted) {
    const double heat = std::isnan(f->heatRaw) ? 0.0 : f->heatRaw;
    stats.fileHeats.push_back(heat);
    if (heat > 0) sum += heat;
    lines += static_cast<uint64_t>(std::max(f->lineCount, 0));
    if (!(f->lineHeatRaw.highest() > 0)) continue;
    for (const double v : f->lineHeatRaw) scored += v > 0 ? 1 : 0;
  }
  std::sort(stats.fileHeats.begin(), stats.fileHeats.end(), std::greater<>());
  if (lines > 0) stats.lineTop = std::max(50.0, 20.0 * sum / static_cast<double>(lines));
  if (scored == 0) return stats;
  // The percentile at the lower neighbour, as the page takes the 95th: the
  // (scored - index)-th largest value. Two min-heaps keep only the top ones.
  const uint64_t index = (scored - 1) * 99 / 100;
  const size_t keep = static_cast<size_t>(scored - index);
  std::priority_queue<double, std::vector<double>, std::greater<>> top, audit;
  for (const ProjectFile* f : counted) {
    const double highest = f->lineHeatRaw.highest();
    if (!(highest > 0)) continue;
    if (top.size() == keep && audit.size() == kAuditLines + 1 && !(highest > top.top()) &&
        !(highest > audit.top())) {
      continue;  // nothing in this file can enter either heap
    }
    for (const double v : f->lineHeatRaw) {
      if (!(v > 0)) continue;
      if (top.size() < keep) {
        top.push(v);
      } else if (v > top.top()) {
        top.pop();
        top.push(v);
      }
      if (audit.size() < kAuditLines + 1) {
        audit.push(v);
      } else if (v > audit.top()) {
        audit.pop();
        audit.push(v);
      }
    }
  }
  stats.percentileCut = top.top();
  // Lines tied with the first one left out stay out, so ties never make
  // the audit longer.
  stats.auditCut = audit.size() > kAuditLines ? audit.top() : 0.0;
  return stats;
}

bool lineIsHot(double heat, const ProjectStats& stats, const LspSettings& settings) {
  if (!(heat > 0)) return false;
  if (settings.threshold) return heat > *settings.threshold;
  return heat > stats.auditCut || heat > stats.percentileCut;
}

double lineHeat01(double heat, const ProjectStats& stats) {
  if (!(heat > 0)) return 0.0;
  return std::clamp(std::log1p(heat) / std::log1p(stats.lineTop), 0.0, 1.0);
}

size_t fileRank(double heat, double ownDiskHeat, const ProjectStats& stats, size_t& total) {
  const auto& heats = stats.fileHeats;  // descending
  size_t hotter = static_cast<size_t>(
      std::upper_bound(heats.begin(), heats.end(), heat, std::greater<>()) - heats.begin());
  // upper_bound with greater<> counts the values >= heat; keep only the larger ones.
  while (hotter > 0 && !(heats[hotter - 1] > heat)) --hotter;
  total = heats.size();
  if (std::isnan(ownDiskHeat)) {
    ++total;
  } else if (ownDiskHeat > heat) {
    --hotter;  // its own older self does not outrank it
  }
  return hotter + 1;
}

void analyzeBuffer(std::string_view text, LanguageId language, BufferHeat& out,
                   AnalysisScratch& scratch) {
  analyzeText(text, profileForLanguage(language), out.lines, out.total, scratch);
  if (out.lines.empty()) out.lines.push_back(0.0);  // an empty buffer still has its line
}

void markHotLines(std::string_view text, LanguageId language, const ProjectStats& stats,
                  const LspSettings& settings, BufferHeat& out) {
  const LanguageProfile& profile = profileForLanguage(language);
  out.hot.clear();
  out.reasons.clear();
  for (size_t i = 0; i < out.lines.size(); ++i) {
    if (lineIsHot(out.lines[i], stats, settings)) out.hot.push_back(static_cast<int32_t>(i));
  }
  if (out.hot.size() > kMaxHotLines) {
    std::nth_element(out.hot.begin(), out.hot.begin() + kMaxHotLines, out.hot.end(),
                     [&](int32_t a, int32_t b) {
                       return out.lines[static_cast<size_t>(a)] > out.lines[static_cast<size_t>(b)];
                     });
    out.hot.resize(kMaxHotLines);
    std::sort(out.hot.begin(), out.hot.end());
  }
  // A hot line with the same text and the same heat, to the bit, as before
  // an edit has the same reasons: only new ones take the explanation pass.
  std::unordered_map<std::string, std::string> known;
  known.swap(out.reasonCache);
  std::vector<std::string> keys(out.hot.size());
  size_t next = 0;
  int32_t index = 0;
  forEachLine(text, [&](std::string_view line) {
    if (next < out.hot.size() && out.hot[next] == index) {
      const double heat = out.lines[static_cast<size_t>(index)];
      keys[next].assign(reinterpret_cast<const char*>(&heat), sizeof heat);
      keys[next].append(line);
      ++next;
    }
    ++index;
  });
  out.reasons.assign(out.hot.size(), std::string());
  std::vector<int32_t> wanted;
  for (size_t k = 0; k < out.hot.size(); ++k) {
    const auto it = known.find(keys[k]);
    if (it != known.end()) {
      out.reasons[k] = it->second;
    } else {
      wanted.push_back(out.hot[k] + 1);
    }
  }
  if (!wanted.empty()) {
    const std::vector<LineExplanation> explained = explainText(text, profile, wanted);
    size_t k = 0;
    for (const LineExplanation& e : explained) {
      while (k < out.hot.size() && out.hot[k] + 1 < e.line) ++k;
      if (k < out.hot.size() && out.hot[k] + 1 == e.line) out.reasons[k] = diagnosticReason(e);
    }
  }
  for (size_t k = 0; k < out.hot.size(); ++k) out.reasonCache.emplace(std::move(keys[k]), out.reasons[k]);
}

std::string formatHeat(double heat, int decimals) {
  if (!std::isfinite(heat)) return "0";
  return formatFixed(heat, std::abs(heat) >= 1e6 ? 0 : decimals);
}

namespace {

bool isGeneric(const std::string& text) {
  return text.rfind("control-flow load", 0) == 0 || text == "a line of code";
}

}  // namespace

std::string diagnosticReason(const LineExplanation& line) {
  const std::vector<HeatReason> reasons = heatReasons(line);
  std::string out;
  int taken = 0;
  for (const HeatReason& r : reasons) {
    if (isGeneric(r.text)) continue;
    if (taken++ > 0) out += ", ";
    out += r.text;
    if (taken == 2) break;
  }
  return out.empty() ? shortReason(line) : out;
}

std::string hoverMarkdown(const LineExplanation& e, double heat01) {
  std::string out;
  if (!e.scored) {
    out = "**Varnholt** · not scored: " + e.notScoredText;
    return out;
  }
  out = "**Varnholt heat " + formatHeat(e.heat) + "** (" + formatFixed(heat01, 2) +
        " on the project scale)\n\n";
  const std::vector<HeatReason> reasons = heatReasons(e);
  for (size_t i = 0; i < reasons.size() && i < 5; ++i) {
    out += "- " + reasons[i].text;
    if (reasons[i].factor > 0) {
      out += " × " + formatFixed(reasons[i].factor, 2);
    } else {
      out += " (+" + formatHeat(reasons[i].points) + ")";
    }
    out += '\n';
  }
  if (reasons.empty()) out += "- no reason above the base heat\n";
  auto neighbours = [&](const char* label, const std::vector<HotNeighbour>& list) {
    if (list.empty()) return;
    out += std::string("\n") + label;
    for (size_t i = 0; i < list.size(); ++i) {
      out += i == 0 ? " " : ", ";
      out += "line " + std::to_string(list[i].line) + " (score " + formatFixed(list[i].rawScore, 2) + ")";
    }
  };
  neighbours("Hot lines above:", e.hotBefore);
  neighbours("Hot lines below:", e.hotAfter);
  return out;
}

}  // namespace varnholt_app
