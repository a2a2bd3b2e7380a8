#include "history/log_replay.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "history/git_process.h"

namespace varnholt_app {
namespace {

constexpr double kHalfLifeSeconds = 90.0 * 86400.0;
// A file that reaches further (a data dump, not code) has no line history:
// expanding it would cost 8 bytes a line for each commit that touches it.
constexpr int64_t kMaxLines = int64_t{1} << 22;

// The walk keeps a name's bytes as they are, and git for Windows writes
// UTF-8: git's bytes are the key.
std::string keyOf(std::string_view raw) { return std::string(raw); }

// "a/NAME" or "\"a/NAME\"" without the prefix; empty for /dev/null.
std::string prefixedName(std::string_view text, char side) {
  if (!text.empty() && text.back() == '\t') text.remove_suffix(1);  // after a name with a blank
  const std::string name = unquoteGitPath(text);
  if (name.size() < 2 || name[0] != side || name[1] != '/') return {};
  return keyOf(std::string_view(name).substr(2));
}

bool readInt(std::string_view& text, int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

// "-a[,b]" or "+c[,d]".
bool readRange(std::string_view& text, char sign, int64_t& first, int64_t& count) {
  if (text.empty() || text.front() != sign) return false;
  text.remove_prefix(1);
  count = 1;
  if (!readInt(text, first)) return false;
  if (!text.empty() && text.front() == ',') {
    text.remove_prefix(1);
    if (!readInt(text, count)) return false;
  }
  return first >= 0 && count >= 0;
}

bool linkOrSubmodule(std::string_view modeLine) {
  return modeLine.ends_with(" 120000") || modeLine.ends_with(" 160000");
}

}  // namespace

LogReplay::LogReplay(History& history, std::string expectedParent,
                     std::unordered_set<std::string> boundaries)
    : history_(history), expectedParent_(std::move(expectedParent)), boundaries_(std::move(boundaries)) {}

bool LogReplay::feed(std::string_view chunk) {
  while (!refused_ && !chunk.empty()) {
    const size_t end = chunk.find('\n');
    if (end == std::string_view::npos) {
      partial_.append(chunk);
      break;
    }
    if (partial_.empty()) {
      line(chunk.substr(0, end));
    } else {
      partial_.append(chunk.substr(0, end));
      line(partial_);
      partial_.clear();
    }
    chunk.remove_prefix(end + 1);
  }
  return !refused_;
}

void LogReplay::finish() {
  if (refused_) return;
  if (!partial_.empty()) {
    const std::string last = std::move(partial_);
    partial_.clear();
    line(last);
  }
  endCommit();
}

void LogReplay::line(std::string_view text) {
  if (oldLeft_ > 0 || newLeft_ > 0) {
    // Inside a hunk every line is content, whatever it starts with.
    const char kind = text.empty() ? ' ' : text.front();
    if (kind == '+') {
      --newLeft_;
    } else if (kind == '-') {
      --oldLeft_;
    } else if (kind != '\\') {
      --oldLeft_;
      --newLeft_;
    }
    return;
  }
  if (!text.empty() && text.front() == '\x01') {
    endCommit();
    startCommit(text.substr(1));
    return;
  }
  if (!inCommit_) return;
  if (text.starts_with("diff --git ")) {
    endSection();
    inSection_ = true;
    oldPath_.clear();
    newPath_.clear();
    renamed_ = added_ = deleted_ = skip_ = false;
    hunks_.clear();
    // "a/X b/X" splits in the middle when both names are the same; other
    // cases name their files on later lines.
    std::string_view rest = text.substr(11);
    if (rest.starts_with('"')) {
      const size_t close = rest.find("\" ");
      if (close != std::string_view::npos) {
        oldPath_ = prefixedName(rest.substr(0, close + 1), 'a');
        newPath_ = prefixedName(rest.substr(close + 2), 'b');
      }
    } else if (rest.size() >= 5 && (rest.size() - 5) % 2 == 0) {
      const size_t n = (rest.size() - 5) / 2;
      if (rest.substr(n + 2, 3) == " b/" && rest.substr(2, n) == rest.substr(n + 5)) {
        oldPath_ = newPath_ = keyOf(rest.substr(2, n));
      }
    }
    return;
  }
  if (!inSection_) return;
  if (text.starts_with("@@ -")) {
    std::string_view rest = text.substr(3);
    Hunk hunk{};
    if (readRange(rest, '-', hunk.oldStart, hunk.oldCount) && rest.starts_with(" ") &&
        (rest.remove_prefix(1), readRange(rest, '+', hunk.newStart, hunk.newCount))) {
      oldLeft_ = hunk.oldCount;
      newLeft_ = hunk.newCount;
      if (hunk.oldStart > kMaxLines - hunk.oldCount || hunk.newStart > kMaxLines - hunk.newCount) skip_ = true;
      hunks_.push_back(hunk);
    }
  } else if (text.starts_with("--- ")) {
    oldPath_ = prefixedName(text.substr(4), 'a');
  } else if (text.starts_with("+++ ")) {
    newPath_ = prefixedName(text.substr(4), 'b');
  } else if (text.starts_with("rename from ")) {
    oldPath_ = keyOf(unquoteGitPath(text.substr(12)));
    renamed_ = true;
  } else if (text.starts_with("rename to ")) {
    newPath_ = keyOf(unquoteGitPath(text.substr(10)));
    renamed_ = true;
  } else if (text.starts_with("new file mode ")) {
    added_ = true;
    skip_ = skip_ || linkOrSubmodule(text);
  } else if (text.starts_with("deleted file mode ")) {
    deleted_ = true;
    skip_ = skip_ || linkOrSubmodule(text);
  } else if (text.starts_with("index ") || text.starts_with("new mode ")) {
    skip_ = skip_ || linkOrSubmodule(text);
  } else if (text.starts_with("Binary files ") || text == "GIT binary patch") {
    skip_ = true;
  }
}

void LogReplay::startCommit(std::string_view header) {
  // "HASH TIME PARENT...\x02EMAIL"
  const size_t mail = header.find('\x02');
  std::string_view head = header.substr(0, mail);
  const std::string_view email = mail == std::string_view::npos ? "" : header.substr(mail + 1);
  const size_t blank = head.find(' ');
  const std::string_view hash = head.substr(0, blank);
  head.remove_prefix(blank == std::string_view::npos ? head.size() : blank + 1);
  int64_t when = 0;
  if (!readInt(head, when)) when = 0;
  if (!head.empty()) head.remove_prefix(1);
  const std::string_view firstParent = head.substr(0, head.find(' '));
  if (commits_ == 0 && !expectedParent_.empty() && firstParent != expectedParent_) {
    refused_ = true;
    return;
  }
  inCommit_ = true;
  ++commits_;
  lastCommit_ = std::string(hash);
  when_ = when;
  countCommit_ = !boundaries_.contains(lastCommit_);
  if (!countCommit_ && (boundaryTime_ == 0 || when < boundaryTime_)) boundaryTime_ = when;
  auto [it, fresh] = history_.authorIds.try_emplace(std::string(email),
                                                    static_cast<uint32_t>(history_.authors.size()));
  if (fresh) history_.authors.emplace_back(email);
  author_ = it->second;
}

void LogReplay::touch(FileHistory& record, int64_t added, int64_t deleted) const {
  ++record.commits;
  const double age = static_cast<double>(std::max<int64_t>(0, history_.now - when_));
  record.frequency += std::exp2(-age / kHalfLifeSeconds);
  const auto at = std::lower_bound(record.authors.begin(), record.authors.end(), author_);
  if (at == record.authors.end() || *at != author_) record.authors.insert(at, author_);
  record.linesAdded += added;
  record.linesDeleted += deleted;
  record.lastChange = std::max(record.lastChange, when_);
}

void LogReplay::applyHunks(FileHistory& record) {
  oldLines_.clear();
  for (const LineRun& run : record.runs) {
    oldLines_.insert(oldLines_.end(), run.length, LineHistory{run.changes, run.lastChange});
  }
  newLines_.clear();
  const auto oldAt = [this](int64_t i) {
    return i < static_cast<int64_t>(oldLines_.size()) ? oldLines_[static_cast<size_t>(i)] : LineHistory{};
  };
  int64_t pos = 0;  // old lines taken so far
  const auto stamp = static_cast<uint32_t>(std::clamp<int64_t>(when_, 1, UINT32_MAX));
  for (const Hunk& h : hunks_) {
    // With no old lines the hunk inserts after line oldStart.
    const int64_t prefixEnd = h.oldCount == 0 ? h.oldStart : h.oldStart - 1;
    if (prefixEnd < pos) continue;  // out of order: not git's output
    for (; pos < prefixEnd; ++pos) newLines_.push_back(oldAt(pos));
    for (int64_t k = 0; k < h.newCount; ++k) {
      newLines_.push_back({k < h.oldCount ? oldAt(pos + k).changes + 1 : 1, stamp});
    }
    pos += h.oldCount;
  }
  for (; pos < static_cast<int64_t>(oldLines_.size()); ++pos) newLines_.push_back(oldAt(pos));
  // Lines that never changed at the end stay implicit.
  while (!newLines_.empty() && newLines_.back().changes == 0 && newLines_.back().lastChange == 0) {
    newLines_.pop_back();
  }
  std::vector<LineRun> runs;
  for (size_t i = 0; i < newLines_.size();) {
    size_t j = i + 1;
    while (j < newLines_.size() && newLines_[j].changes == newLines_[i].changes &&
           newLines_[j].lastChange == newLines_[i].lastChange) {
      ++j;
    }
    runs.push_back({static_cast<uint32_t>(j - i), newLines_[i].changes, newLines_[i].lastChange});
    i = j;
  }
  runs.shrink_to_fit();
  record.runs = std::move(runs);
}

void LogReplay::endSection() {
  if (!inSection_) return;
  inSection_ = false;
  oldLeft_ = newLeft_ = 0;
  if (newPath_.empty() && !deleted_) newPath_ = oldPath_;
  if (oldPath_.empty() && !added_) oldPath_ = newPath_;
  if (skip_ || !countCommit_) {
    // Links, submodules, binary and huge files carry no lines; a shallow
    // clone's first commit only sets the lines that were there.
    if (skip_) {
      history_.files.erase(oldPath_);
      history_.files.erase(newPath_);
    }
    return;
  }
  int64_t addedLines = 0, deletedLines = 0;
  for (const Hunk& h : hunks_) {
    addedLines += h.newCount;
    deletedLines += h.oldCount;
  }
  if (deleted_) {
    auto it = history_.files.find(oldPath_);
    if (it == history_.files.end()) it = history_.files.try_emplace(oldPath_).first;
    touch(it->second, addedLines, deletedLines);
    it->second.present = false;
    it->second.runs = {};
    return;
  }
  if (newPath_.empty()) return;
  if (renamed_ || added_) {
    // Applied when the commit ends, so that a rename reads its source as
    // it was before this commit, whatever order the sections come in.
    Staged staged{newPath_, {}, added_ && !renamed_};
    if (renamed_) {
      if (auto it = history_.files.find(oldPath_); it != history_.files.end()) {
        staged.record = std::move(it->second);
        history_.files.erase(it);
      }
    }
    staged.record.present = true;
    touch(staged.record, addedLines, deletedLines);
    applyHunks(staged.record);
    staged_.push_back(std::move(staged));
    return;
  }
  FileHistory& record = history_.files[newPath_];
  touch(record, addedLines, deletedLines);
  if (!hunks_.empty()) applyHunks(record);
}

void LogReplay::endCommit() {
  endSection();
  for (Staged& staged : staged_) {
    auto [it, fresh] = history_.files.try_emplace(staged.path);
    if (!fresh && staged.added && !it->second.present) {
      // Re-added: the file's figures go on, its lines start anew.
      FileHistory& record = it->second;
      record.commits += staged.record.commits;
      record.frequency += staged.record.frequency;
      for (uint32_t a : staged.record.authors) {
        const auto at = std::lower_bound(record.authors.begin(), record.authors.end(), a);
        if (at == record.authors.end() || *at != a) record.authors.insert(at, a);
      }
      record.linesAdded += staged.record.linesAdded;
      record.linesDeleted += staged.record.linesDeleted;
      record.lastChange = std::max(record.lastChange, staged.record.lastChange);
      record.present = true;
      record.runs = std::move(staged.record.runs);
    } else {
      it->second = std::move(staged.record);
    }
  }
  staged_.clear();
  if (inCommit_ && countCommit_) ++history_.commits;
  inCommit_ = false;
}

}  // namespace varnholt_app
