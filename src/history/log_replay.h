#pragma once
// Replays `git log --reverse --first-parent -m -p -U0 -M` output into a
// History: a replaced line takes the count of the line it replaces plus
// one, an inserted line starts at one, deleted lines go.

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "history/history.h"

namespace varnholt_app {

// The log format the replay reads: a header line per commit.
inline constexpr const char* kReplayFormat = "--format=%x01%H %ct %P%x02%ae";

class LogReplay {
 public:
  // `expectedParent`: when not empty, the first commit must have it as its
  // first parent, or the replay stops before it changes anything.
  // `boundaries`: commits whose parents git does not have (a shallow
  // clone); their changes are not counted.
  LogReplay(History& history, std::string expectedParent, std::unordered_set<std::string> boundaries);

  // False once the replay refuses to go on (the first parent did not match).
  bool feed(std::string_view chunk);
  void finish();

  bool refused() const { return refused_; }
  size_t commits() const { return commits_; }
  const std::string& lastCommit() const { return lastCommit_; }
  int64_t boundaryTime() const { return boundaryTime_; }

 private:
  struct Hunk {
    int64_t oldStart, oldCount, newStart, newCount;
  };
  struct Staged {
    std::string path;
    FileHistory record;
    bool added;  // a new file: continues a deleted record of the same path
  };

  void line(std::string_view text);
  void startCommit(std::string_view header);
  void endSection();
  void endCommit();
  void touch(FileHistory& record, int64_t added, int64_t deleted) const;
  void applyHunks(FileHistory& record);

  History& history_;
  std::string expectedParent_;
  std::unordered_set<std::string> boundaries_;
  std::string partial_;
  bool refused_ = false;
  size_t commits_ = 0;
  std::string lastCommit_;
  int64_t boundaryTime_ = 0;

  // The commit being read.
  bool inCommit_ = false;
  bool countCommit_ = false;
  int64_t when_ = 0;
  uint32_t author_ = 0;
  std::vector<Staged> staged_;

  // The file section being read.
  bool inSection_ = false;
  std::string oldPath_, newPath_;
  bool renamed_ = false, added_ = false, deleted_ = false, skip_ = false;
  std::vector<Hunk> hunks_;
  int64_t oldLeft_ = 0, newLeft_ = 0;

  std::vector<LineHistory> oldLines_, newLines_;
};

}  // namespace varnholt_app
