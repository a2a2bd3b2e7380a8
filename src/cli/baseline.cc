#include "cli/baseline.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

namespace varnholt_app {
namespace {

constexpr std::string_view kMagic = "varnholt-report baseline 1";

std::string shortest(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

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

bool hotter(double now, double before) {
  return now > before + 1e-9 * std::max(1.0, std::fabs(before));
}

}  // namespace

std::string baselinePathField(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '%') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string writeBaselineText(const FindingSet& set, double minHeat, std::string_view toolVersion) {
  const double floor = set.cutByCount && !set.findings.empty() ? set.findings.back().heatRaw
                                                               : std::max(minHeat, 0.0);
  std::string out(kMagic);
  out += "\nversion ";
  out += toolVersion;
  out += "\nfloor " + shortest(floor) + (set.cutByCount ? " count\n" : " heat\n");
  for (const Finding& f : set.findings) {
    out += f.fingerprint + ' ' + shortest(f.heatRaw) + ' ' + std::to_string(f.line) + ' ' +
           baselinePathField(f.path) + '\n';
  }
  out += "end " + std::to_string(set.findings.size()) + '\n';
  return out;
}

bool parseBaseline(std::string_view text, std::string_view toolVersion, Baseline& out,
                   std::string& error) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      error = "it ends in the middle of a line";
      return false;
    }
    std::string_view line = text.substr(start, end - start);
    // A checkout may have turned the line ends into CR LF.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.empty() || lines[0] != kMagic) {
    error = "it is not a varnholt-report baseline";
    return false;
  }
  if (lines.size() < 4 || lines[1].substr(0, 8) != "version ") {
    error = "it is cut short";
    return false;
  }
  out.toolVersion = std::string(lines[1].substr(8));
  if (out.toolVersion != toolVersion) {
    error = "it was written by version " + out.toolVersion + ", this is " +
            std::string(toolVersion) + "; write it again with --write-baseline";
    return false;
  }
  const std::vector<std::string_view> floor = tokens(lines[2]);
  if (floor.size() != 3 || floor[0] != "floor" || !parseNumber(floor[1], out.floor) ||
      (floor[2] != "count" && floor[2] != "heat")) {
    error = "line 3 is not a floor";
    return false;
  }
  out.cutByCount = floor[2] == "count";
  size_t count = 0;
  const std::vector<std::string_view> end = tokens(lines.back());
  if (end.size() != 2 || end[0] != "end" || !parseNumber(end[1], count) ||
      count != lines.size() - 4) {
    error = "it is cut short or has lines added";
    return false;
  }
  out.entries.clear();
  out.entries.reserve(count);
  for (size_t i = 3; i + 1 < lines.size(); ++i) {
    const std::vector<std::string_view> fields = tokens(lines[i]);
    BaselineEntry entry;
    if (fields.size() != 4 || !isFingerprint(fields[0]) || !parseNumber(fields[1], entry.heatRaw) ||
        !std::isfinite(entry.heatRaw) || !parseNumber(fields[2], entry.line) || entry.line < 1 ||
        fields[3].empty()) {
      error = "line " + std::to_string(i + 1) + " is not a finding";
      return false;
    }
    entry.fingerprint = std::string(fields[0]);
    entry.pathField = std::string(fields[3]);
    out.entries.push_back(std::move(entry));
  }
  return true;
}

std::vector<GateFailure> compareWithBaseline(const FindingSet& set, const Baseline& baseline) {
  std::unordered_map<std::string_view, size_t> byFingerprint;
  for (size_t i = 0; i < baseline.entries.size(); ++i) {
    byFingerprint.emplace(baseline.entries[i].fingerprint, i);
  }
  const size_t none = SIZE_MAX;
  std::vector<bool> entryUsed(baseline.entries.size(), false);
  std::vector<size_t> match(set.findings.size(), none);
  for (size_t k = 0; k < set.findings.size(); ++k) {
    const auto it = byFingerprint.find(set.findings[k].fingerprint);
    if (it == byFingerprint.end() || entryUsed[it->second]) continue;
    match[k] = it->second;
    entryUsed[it->second] = true;
  }

  // An edited line has a new fingerprint. It takes the place of an unmatched
  // entry of its file at its line, shifted as much as the nearest matched
  // line of that file moved.
  std::unordered_map<std::string, std::vector<size_t>> matchedByPath;
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
      for (size_t i : entriesByPath[baselinePathField(f.path)]) {
        if (!entryUsed[i] && baseline.entries[i].line + shift == f.line) {
          entry = i;
          entryUsed[i] = true;
          break;
        }
      }
    }
    if (entry != none) {
      if (hotter(f.heatRaw, baseline.entries[entry].heatRaw)) {
        failures.push_back({&f, baseline.entries[entry].heatRaw});
      }
      continue;
    }
    const bool aboveFloor =
        baseline.cutByCount ? hotter(f.heatRaw, baseline.floor) : f.heatRaw >= baseline.floor;
    if (aboveFloor) failures.push_back({&f, -1.0});
  }
  return failures;
}

}  // namespace varnholt_app
