#pragma once
// How often each file and line of a git work tree changed: one replay of
// the first-parent history in a time window, updated as HEAD moves.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/fnv1a.h"

namespace varnholt_app {

// Equal lines in a row: `length` lines changed `changes` times in the
// window, the last time at `lastChange` (seconds since 1970; 0: not in the
// window).
struct LineRun {
  uint32_t length = 0;
  uint32_t changes = 0;
  uint32_t lastChange = 0;
  bool operator==(const LineRun&) const = default;
};

struct LineHistory {
  uint32_t changes = 0;
  uint32_t lastChange = 0;
};

struct FileHistory {
  int32_t commits = 0;     // first-parent commits in the window that changed it
  double frequency = 0.0;  // those commits, each weighted by 2^(-age / 90 days)
  std::vector<uint32_t> authors;  // distinct, ids into History::authors, sorted
  int64_t linesAdded = 0;
  int64_t linesDeleted = 0;
  int64_t lastChange = 0;  // seconds since 1970; 0: none in the window
  bool present = true;     // false once deleted (its figures stay for a re-add)
  // Its lines in order; lines past the last run did not change in the window.
  std::vector<LineRun> runs;

  LineHistory line(int32_t number) const;  // from 1
  size_t lineCount() const;                // lines the runs cover
};

enum class HistoryState { None, Read };

struct History {
  HistoryState state = HistoryState::None;
  std::string reason;  // why there is none, or a note (a shallow clone)
  std::string head;    // the commit the figures end at
  int64_t since = 0;   // window start, seconds since 1970
  int64_t now = 0;     // the time the recency weights refer to
  // In a shallow clone: the date of the oldest commit git has, from which
  // counts start; 0 otherwise.
  int64_t countsFrom = 0;
  size_t commits = 0;  // first-parent commits replayed
  // By path relative to the folder read, "/" separated, with the bytes the
  // walk names it by.
  std::unordered_map<std::string, FileHistory, Fnv1aHash, std::equal_to<>> files;
  std::vector<std::string> authors;  // e-mail addresses
  std::unordered_map<std::string, uint32_t, Fnv1aHash, std::equal_to<>> authorIds;

  const FileHistory* find(std::string_view relativePath) const;
  size_t lineBytes() const;  // memory held by the per-line runs
};

struct HistoryOptions {
  int64_t now = 0;    // seconds since 1970; results depend on it, not the clock
  int64_t since = 0;  // window start; 0: twelve calendar months before `now`
  // Called now and then with commits done and expected; false stops the
  // read, which then leaves `history` as it was.
  std::function<bool(size_t done, size_t total)> progress;
};

// Replays the window's history of the git work tree around `folder`
// (absolute, UTF-8), limited to the files below `folder`. Never fails: a
// folder outside git, a missing git or a failed read gives state None with
// the reason.
History readHistory(const std::string& folder, const HistoryOptions& options);

// Brings `history` to the current HEAD: replays only the new commits when
// the old HEAD is on the new one's first-parent line, else reads it all
// again. True when something changed; false also when the progress
// callback stopped an update, which leaves `history` as it was.
bool updateHistory(History& history, const std::string& folder, const HistoryOptions& options);

// Twelve calendar months before `now` (UTC), the default window.
int64_t monthsBefore(int64_t now, int months);

// Reads "YYYY-MM-DD" or "N.days|weeks|months|years" against `now`; false
// for anything else.
bool parseSince(std::string_view text, int64_t now, int64_t& since);

// "YYYY-MM-DD" in UTC.
std::string isoDate(int64_t seconds);
// As a JSON value: the date in quotes, or null for no date (0 or less).
void appendJsonDate(std::string& out, int64_t seconds);

}  // namespace varnholt_app
