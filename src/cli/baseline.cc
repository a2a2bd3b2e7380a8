#include "cli/baseline.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

#include "base/failure.h"
#include "protocol/json.h"

namespace varnholt_app {
namespace {

constexpr std::string_view kMagic = "varnholt-report baseline 1";

std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (start <= line.size()) {
    const size_t end = std::min(line.find(' ', start), line.size());
    out.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

template <class Number>
bool parseNumber(std::string_view text, Number& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool isFingerprint(std::string_view text) {
  return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A line's heat depends on the lines around it: an edit elsewhere in the
// file moves it a little, which is no reason to fail.
bool hotter(double now, double before, const GateTolerance& tolerance) {
  const double allowed = std::max(std::fabs(before) * tolerance.percent / 100.0, tolerance.raw);
  return now > before + std::max(allowed, 1e-9 * std::max(1.0, std::fabs(before)));
}

}  // namespace

std::string baselinePathField(std::string_view path) {
  std::string out;
  appendPercentEncoded(out, path, [](unsigned char c) { return c > 0x20 && c != 0x7F && c != '%'; });
  return out;
}

std::string writeBaselineText(const FindingSet& set, double minHeat, std::string_view toolVersion) {
  const double floor = set.cutByCount && !set.findings.empty() ? set.findings.back().heatRaw
                                                               : std::max(minHeat, 0.0);
  std::string out(kMagic);
  out += "\nversion ";
  out += toolVersion;
  out += "\nfloor ";
  appendShortest(out, floor);
  out += set.cutByCount ? " count\n" : " heat\n";
  for (const Finding& f : set.findings) {
    out += fingerprintText(f.fingerprint).view();
    out += ' ';
    appendShortest(out, f.heatRaw);
    out += ' ' + std::to_string(f.line) + ' ' + baselinePathField(f.path) + '\n';
  }
  out += "end " + std::to_string(set.findings.size()) + '\n';
  return out;
}

void parseBaselineLine(BaselineParser& parser, std::string_view line) {
  Baseline& out = *parser.out;
  const size_t number = ++parser.lines;
  // A checkout may have turned the line ends into CR LF.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (parser.ended) throw Failure("it is cut short or has lines added");
  if (number == 1) {
    if (line != kMagic) throw Failure("it is not a varnholt-report baseline");
    return;
  }
  if (number == 2) {
    if (line.substr(0, 8) != "version ") throw Failure("it is cut short");
    out.toolVersion = std::string(line.substr(8));
    if (out.toolVersion != parser.toolVersion) {
      throw Failure("it was written by version " + out.toolVersion + ", this is " +
                    std::string(parser.toolVersion) + "; write it again with --write-baseline");
    }
    return;
  }
  if (number == 3) {
    const std::vector<std::string_view> floor = tokens(line);
    // A floor of NaN or infinity would let every new line through.
    if (floor.size() != 3 || floor[0] != "floor" || !parseNumber(floor[1], out.floor) ||
        !std::isfinite(out.floor) || out.floor < 0 || (floor[2] != "count" && floor[2] != "heat")) {
      throw Failure("line 3 is not a floor");
    }
    out.cutByCount = floor[2] == "count";
    out.entries.clear();
    return;
  }
  const std::vector<std::string_view> fields = tokens(line);
  if (fields.size() == 2 && fields[0] == "end") {
    size_t count = 0;
    if (!parseNumber(fields[1], count) || count != out.entries.size()) {
      throw Failure("it is cut short or has lines added");
    }
    parser.ended = true;
    return;
  }
  BaselineEntry entry;
  if (fields.size() != 4 || !isFingerprint(fields[0]) || !parseNumber(fields[1], entry.heatRaw) ||
      !std::isfinite(entry.heatRaw) || entry.heatRaw < 0 || !parseNumber(fields[2], entry.line) ||
      entry.line < 1 || fields[3].empty()) {
    throw Failure("line " + std::to_string(number) + " is not a finding");
  }
  entry.fingerprint = std::string(fields[0]);
  entry.pathField = std::string(fields[3]);
  out.entries.push_back(std::move(entry));
}

void finishBaseline(const BaselineParser& parser) {
  if (parser.ended) return;
  throw Failure(parser.lines == 0  ? "it is not a varnholt-report baseline"
                : parser.lines < 4 ? "it is cut short"
                                   : "it is cut short or has lines added");
}

std::vector<GateFailure> compareWithBaseline(const FindingSet& set, const Baseline& baseline,
                                             const GateTolerance& tolerance) {
  std::unordered_map<std::string_view, size_t> byFingerprint;
  for (size_t i = 0; i < baseline.entries.size(); ++i) {
    byFingerprint.emplace(baseline.entries[i].fingerprint, i);
  }
  const size_t none = SIZE_MAX;
  std::vector<bool> entryUsed(baseline.entries.size(), false);
  std::vector<size_t> match(set.findings.size(), none);
  for (size_t k = 0; k < set.findings.size(); ++k) {
    const auto it = byFingerprint.find(fingerprintText(set.findings[k].fingerprint).view());
    if (it == byFingerprint.end() || entryUsed[it->second]) continue;
    match[k] = it->second;
    entryUsed[it->second] = true;
  }

  // An edited line has a new fingerprint. It takes the place of an unmatched
  // entry of its file at its line, shifted as much as the nearest matched
  // line of that file moved.
  std::unordered_map<std::string_view, std::vector<size_t>> matchedByPath;
  for (size_t k = 0; k < set.findings.size(); ++k) {
    if (match[k] != none) matchedByPath[set.findings[k].path].push_back(k);
  }
  std::unordered_map<std::string_view, std::vector<size_t>> entriesByPath;
  for (size_t i = 0; i < baseline.entries.size(); ++i) {
    if (!entryUsed[i]) entriesByPath[baseline.entries[i].pathField].push_back(i);
  }
  std::vector<GateFailure> failures;
  for (size_t k = 0; k < set.findings.size(); ++k) {
    const Finding& f = set.findings[k];
    size_t entry = match[k];
    if (entry == none) {
      int64_t shift = 0;
      int64_t nearest = INT64_MAX;
      for (size_t m : matchedByPath[f.path]) {
        const int64_t distance = std::llabs(int64_t{set.findings[m].line} - f.line);
        if (distance < nearest) {
          nearest = distance;
          shift = int64_t{set.findings[m].line} - baseline.entries[match[m]].line;
        }
      }
      // find, not []: a key added from the temporary field would dangle.
      const auto entries = entriesByPath.find(baselinePathField(f.path));
      if (entries != entriesByPath.end()) {
        for (size_t i : entries->second) {
          if (!entryUsed[i] && baseline.entries[i].line + shift == f.line) {
            entry = i;
            entryUsed[i] = true;
            break;
          }
        }
      }
    }
    if (entry != none) {
      if (hotter(f.heatRaw, baseline.entries[entry].heatRaw, tolerance)) {
        failures.push_back({&f, baseline.entries[entry].heatRaw});
      }
      continue;
    }
    // A line left out only because the list was full, or just below the
    // minimum heat, may drift above the floor like any recorded line.
    const bool aboveFloor = baseline.cutByCount || baseline.floor > 0
                                ? hotter(f.heatRaw, baseline.floor, tolerance)
                                : f.heatRaw >= baseline.floor;
    if (aboveFloor) failures.push_back({&f, -1.0});
  }
  return failures;
}

}  // namespace varnholt_app
