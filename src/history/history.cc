#include "history/history.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "history/git_process.h"
#include "history/log_replay.h"

namespace varnholt_app {
namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y = yoe + era * 400 + (m <= 2);
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

std::vector<std::string> git(const std::string& folder, std::vector<std::string> args) {
  std::vector<std::string> argv = {"git", "-C", folder, "-c", "core.quotePath=false",
                                   "-c", "log.showSignature=false", "-c", "diff.noprefix=false"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

History none(std::string reason) {
  History history;
  history.reason = std::move(reason);
  return history;
}

// The commits a shallow clone has without their parents.
std::unordered_set<std::string> shallowBoundaries(const std::string& folder) {
  std::unordered_set<std::string> hashes;
  const CapturedOutput path = captureCommand(git(folder, {"rev-parse", "--path-format=absolute",
                                                          "--git-path", "shallow"}));
  if (path.outcome.exitCode != 0) return hashes;
  std::ifstream in(firstLine(path.out), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) hashes.insert(line);
  }
  return hashes;
}

std::vector<std::string> logArguments(const std::string& folder) {
  return git(folder, {"log", "--reverse", "--first-parent", "-m", "-p", "-U0", "-M", "--relative",
                      "--no-color", "--no-ext-diff", "--no-textconv", "--src-prefix=a/",
                      "--dst-prefix=b/", kReplayFormat});
}

// Runs the log into `replay`, with progress against `total` commits.
bool replayLog(const std::string& folder, std::vector<std::string> range, size_t total,
               LogReplay& replay, const HistoryOptions& options, bool* stopped = nullptr) {
  std::vector<std::string> argv = logArguments(folder);
  argv.insert(argv.end(), range.begin(), range.end());
  argv.push_back("--");
  size_t reported = 0;
  bool cancelled = false;
  const ProcessOutcome outcome = streamCommand(argv, [&](std::string_view chunk) {
    if (!replay.feed(chunk)) return false;
    if (options.progress && replay.commits() >= reported + 64) {
      reported = replay.commits();
      if (!options.progress(reported, std::max(total, reported))) {
        cancelled = true;
        return false;
      }
    }
    return true;
  });
  if (stopped != nullptr) *stopped = cancelled;
  if (!outcome.started || cancelled || replay.refused() || outcome.exitCode != 0) return false;
  replay.finish();
  if (options.progress) options.progress(replay.commits(), std::max(total, replay.commits()));
  return true;
}

size_t countCommits(const std::string& folder, const std::vector<std::string>& range) {
  std::vector<std::string> args = {"rev-list", "--first-parent", "--count"};
  args.insert(args.end(), range.begin(), range.end());
  const CapturedOutput counted = captureCommand(git(folder, args));
  size_t count = 0;
  std::from_chars(counted.out.data(), counted.out.data() + counted.out.size(), count);
  return count;
}

}  // namespace

// git writes a name with unusual bytes in C quotes: "a\tb\303\244".
std::string unquoteGitPath(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  text = text.substr(1, text.size() - 2);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c >= '0' && c <= '7' && i + 2 < text.size()) {
      out += static_cast<char>(((c - '0') << 6) | ((text[i + 1] - '0') << 3) | (text[i + 2] - '0'));
      i += 2;
    } else {
      static const std::string_view kFrom = "abtnvfr";
      static const std::string_view kTo = "\a\b\t\n\v\f\r";
      const size_t k = kFrom.find(c);
      out += k == std::string_view::npos ? c : kTo[k];
    }
  }
  return out;
}

CapturedOutput captureCommand(const std::vector<std::string>& argv, bool withErrors) {
  CapturedOutput captured;
  captured.outcome = streamCommand(argv, [&](std::string_view chunk) {
    captured.out.append(chunk);
    return true;
  }, withErrors);
  return captured;
}

LineHistory FileHistory::line(int32_t number) const {
  int64_t left = number - 1;
  if (left < 0) return {};
  for (const LineRun& run : runs) {
    if (left < run.length) return {run.changes, run.lastChange};
    left -= run.length;
  }
  return {};
}

size_t FileHistory::lineCount() const {
  size_t count = 0;
  for (const LineRun& run : runs) count += run.length;
  return count;
}

const FileHistory* History::find(std::string_view relativePath) const {
  const auto it = files.find(relativePath);
  return it == files.end() || !it->second.present ? nullptr : &it->second;
}

size_t History::lineBytes() const {
  size_t bytes = 0;
  for (const auto& entry : files) bytes += entry.second.runs.capacity() * sizeof(LineRun);
  return bytes;
}

int64_t monthsBefore(int64_t now, int months) {
  const int64_t days = floorDiv(now, 86400);
  int64_t y = 0, m = 0, d = 0;
  civilFromDays(days, y, m, d);
  int64_t index = y * 12 + (m - 1) - months;
  y = floorDiv(index, 12);
  m = index - y * 12 + 1;
  // The 31st of a shorter month is its last day.
  const int64_t monthDays = daysFromCivil(m == 12 ? y + 1 : y, m == 12 ? 1 : m + 1, 1) - daysFromCivil(y, m, 1);
  return daysFromCivil(y, m, std::min(d, monthDays)) * 86400 + (now - days * 86400);
}

bool parseSince(std::string_view text, int64_t now, int64_t& since) {
  int64_t y = 0, m = 0, d = 0;
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    const auto field = [&](size_t at, size_t n, int64_t& v) {
      const auto r = std::from_chars(text.data() + at, text.data() + at + n, v);
      return r.ec == std::errc() && r.ptr == text.data() + at + n;
    };
    if (!field(0, 4, y) || !field(5, 2, m) || !field(8, 2, d) || m < 1 || m > 12 || d < 1 || d > 31) {
      return false;
    }
    since = daysFromCivil(y, m, d) * 86400;
    return true;
  }
  int64_t n = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (r.ec != std::errc() || n < 0 || n > 100000 || r.ptr == text.data() + text.size() || *r.ptr != '.') {
    return false;
  }
  std::string_view unit = text.substr(static_cast<size_t>(r.ptr - text.data()) + 1);
  if (unit.ends_with('s')) unit.remove_suffix(1);
  if (unit == "day" || unit == "week") {
    since = now - n * 86400 * (unit == "week" ? 7 : 1);
  } else if (unit == "month" || unit == "year") {
    since = monthsBefore(now, static_cast<int>(n * (unit == "year" ? 12 : 1)));
  } else {
    return false;
  }
  return true;
}

std::string isoDate(int64_t seconds) {
  int64_t y = 0, m = 0, d = 0;
  civilFromDays(floorDiv(seconds, 86400), y, m, d);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d));
  return text;
}

void appendJsonDate(std::string& out, int64_t seconds) {
  if (seconds > 0) {
    out += '"';
    out += isoDate(seconds);
    out += '"';
  } else {
    out += "null";
  }
}

History readHistory(const std::string& folder, const HistoryOptions& options) {
  const CapturedOutput inside = captureCommand(git(folder, {"rev-parse", "--is-inside-work-tree"}));
  if (!inside.outcome.started) return none("git could not be run (is it on the PATH?)");
  if (inside.outcome.exitCode != 0 || !inside.out.ends_with("true\n")) {
    return none("the folder is not in a git work tree");
  }
  const CapturedOutput head = captureCommand(git(folder, {"rev-parse", "--verify", "--quiet", "HEAD"}));
  if (head.outcome.exitCode != 0 || head.out.size() < 40) return none("the repository has no commits yet");

  History history;
  history.head = firstLine(head.out);
  history.now = options.now;
  history.since = options.since != 0 ? options.since : monthsBefore(options.now, 12);
  const std::string maxAge = "--max-age=" + std::to_string(history.since);
  const size_t total = countCommits(folder, {maxAge, history.head});
  LogReplay replay(history, {}, shallowBoundaries(folder));
  if (!replayLog(folder, {maxAge, history.head}, total, replay, options)) {
    return none("git log failed or was stopped");
  }
  history.state = HistoryState::Read;
  if (replay.boundaryTime() != 0) {
    history.countsFrom = replay.boundaryTime();
    history.reason = "shallow clone: counts start on " + isoDate(history.countsFrom);
  }
  return history;
}

bool updateHistory(History& history, const std::string& folder, const HistoryOptions& options) {
  const CapturedOutput head = captureCommand(git(folder, {"rev-parse", "--verify", "--quiet", "HEAD"}));
  const std::string now = head.outcome.exitCode == 0 ? firstLine(head.out) : std::string();
  if (history.state == HistoryState::Read && now == history.head) return false;
  if (history.state == HistoryState::Read && !now.empty() &&
      captureCommand(git(folder, {"merge-base", "--is-ancestor", history.head, now})).outcome.exitCode == 0) {
    History next = history;  // a failed or refused replay leaves the old figures
    // The weights so far age by the time that passed.
    const double decay = std::exp2(-static_cast<double>(options.now - history.now) / (90.0 * 86400.0));
    for (auto& entry : next.files) entry.second.frequency *= decay;
    next.now = options.now;
    const std::vector<std::string> range = {history.head + ".." + now};
    const size_t total = countCommits(folder, range);
    LogReplay replay(next, history.head, shallowBoundaries(folder));
    bool stopped = false;
    if (replayLog(folder, range, total, replay, options, &stopped)) {
      next.head = now;
      history = std::move(next);
      return true;
    }
    if (stopped) return false;
  }
  History fresh = readHistory(folder, options);
  history = std::move(fresh);
  return true;
}

}  // namespace varnholt_app
