#include "history/history.h"
#include "history/history_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace varnholt_app {
namespace {

namespace fs = std::filesystem;
constexpr int64_t kNow = 1'700'000'000 + 400 * 86400;

struct TruthFile {
  std::vector<int64_t> commits;
  size_t authors = 0;
  std::vector<std::vector<int64_t>> lines;
};
using Truth = std::map<std::string, TruthFile>;

std::vector<int64_t> numbers(const std::string& text) {
  std::vector<int64_t> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) out.push_back(std::stoll(item));
  return out;
}

int sh(const std::string& command) { return std::system(command.c_str()); }

// A generated repository and what every line of its tree went through.
struct Generated {
  std::string repo;
  Truth truth;
  explicit Generated(const std::string& name, const std::string& flags = "--special") {
    repo = (fs::temp_directory_path() / ("varnholt-history-" + name + std::to_string(::getpid()))).string();
    fs::remove_all(repo);
    EXPECT_EQ(sh("python3 " VARNHOLT_GEN_HISTORY " " + repo + " " + flags), 0);
    std::ifstream in(repo + ".truth");
    TruthFile* file = nullptr;
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> f;
      std::stringstream fields(line);
      for (std::string s; std::getline(fields, s, '\t');) f.push_back(s);
      if (f[0] == "F") {
        file = &truth[f[1]];
        file->commits = numbers(f[2]);
        file->authors = std::stoul(f[3]);
      } else {
        file->lines.push_back(numbers(f.size() > 1 ? f[1] : ""));
      }
    }
  }
  ~Generated() {
    fs::remove_all(repo);
    fs::remove(repo + ".truth");
  }
  std::string git(const std::string& args) const { return "git -C " + repo + " " + args + " >/dev/null 2>&1"; }
};

// Every file below `prefix` agrees with the truth counted from `since`,
// and the engine knows no file the truth does not.
void expectAgrees(const History& history, const Truth& truth, int64_t since, const std::string& prefix = "") {
  ASSERT_EQ(history.state, HistoryState::Read) << history.reason;
  size_t known = 0;
  for (const auto& [path, file] : truth) {
    if (!path.starts_with(prefix)) continue;
    const FileHistory* record = history.find(path.substr(prefix.size()));
    const auto inWindow = std::count_if(file.commits.begin(), file.commits.end(), [&](int64_t t) { return t >= since; });
    if (record == nullptr) {
      EXPECT_EQ(inWindow, 0) << path;
      continue;
    }
    ++known;
    EXPECT_EQ(record->commits, inWindow) << path;
    EXPECT_EQ(record->lastChange, inWindow ? file.commits.back() : 0) << path;
    if (since <= file.commits.front()) {
      EXPECT_EQ(record->authors.size(), file.authors) << path;
    }
    EXPECT_LE(record->lineCount(), file.lines.size()) << path;
    for (size_t i = 0; i < file.lines.size(); ++i) {
      const std::vector<int64_t>& dates = file.lines[i];
      const auto changes = std::count_if(dates.begin(), dates.end(), [&](int64_t t) { return t >= since; });
      const LineHistory line = record->line(static_cast<int32_t>(i + 1));
      ASSERT_EQ(line.changes, changes) << path << ':' << i + 1;
      EXPECT_EQ(line.lastChange, changes ? dates.back() : 0) << path << ':' << i + 1;
    }
  }
  size_t present = 0;
  for (const auto& entry : history.files) present += entry.second.present;
  EXPECT_EQ(present, known);
}

TEST(History, AgreesWithTheGeneratorOnEveryLineInAnyWindowAndFolder) {
  const Generated g("full");
  const std::string special[] = {"moved/g1.c", "f2.c", "w.crlf", "caf\xe9.c"};
  for (const std::string& path : special) ASSERT_TRUE(g.truth.contains(path)) << path;
  const History all = readHistory(g.repo, {kNow, 1, {}});
  expectAgrees(all, g.truth, 1);
  EXPECT_GT(all.files.at("moved/g1.c").commits, 2);
  EXPECT_TRUE(all.reason.empty());
  const int64_t since = 1'700'000'000 + 9 * 3600;
  expectAgrees(readHistory(g.repo, {kNow, since, {}}), g.truth, since);
  size_t reports = 0;
  const History sub = readHistory(g.repo + "/sub", {kNow, since, [&](size_t done, size_t total) {
                                                      EXPECT_LE(done, total);
                                                      return ++reports > 0;
                                                    }});
  expectAgrees(sub, g.truth, since, "sub/");
  EXPECT_GT(reports, 0u);
  // Twelve months back by default; older commits do not count.
  const History recent = readHistory(g.repo, {kNow, 0, {}});
  EXPECT_EQ(recent.since, monthsBefore(kNow, 12));
  expectAgrees(recent, g.truth, recent.since);
}

TEST(History, FollowsHeadForwardAndRebuildsWhenRewritten) {
  const Generated g("moves", "--special --commits 40");
  ASSERT_EQ(sh(g.git("symbolic-ref HEAD refs/heads/early")), 0);
  History history = readHistory(g.repo, {kNow, 1, {}});
  const std::string early = history.head;
  ASSERT_EQ(sh(g.git("symbolic-ref HEAD refs/heads/main")), 0);
  size_t replayed = 0;
  EXPECT_TRUE(updateHistory(history, g.repo, {kNow, 1, [&](size_t done, size_t) {
    replayed = done;
    return true;
  }}));
  EXPECT_LT(replayed, 30u);  // only the commits after `early`
  expectAgrees(history, g.truth, 1);
  EXPECT_FALSE(updateHistory(history, g.repo, {kNow, 1, {}}));
  ASSERT_EQ(sh(g.git("symbolic-ref HEAD refs/heads/early")), 0);
  EXPECT_TRUE(updateHistory(history, g.repo, {kNow, 1, {}}));
  const History fresh = readHistory(g.repo, {kNow, 1, {}});
  EXPECT_EQ(history.head, early);
  EXPECT_EQ(history.commits, fresh.commits);
  ASSERT_EQ(history.files.size(), fresh.files.size());
  for (const auto& [path, file] : fresh.files) {
    EXPECT_EQ(history.files.at(path).runs, file.runs) << path;
    EXPECT_EQ(history.files.at(path).commits, file.commits) << path;
  }
}

TEST(History, WorkerReadsInTheBackgroundAndUpdatesOnlyWhatIsNew) {
  const Generated g("worker", "--special --commits 40");
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::shared_ptr<const History>> results;
  std::atomic<size_t> lastDone = 0;
  HistoryWorker worker([&](const std::string&, size_t done, size_t) { lastDone = done; },
                       [&](const std::string& folder, std::shared_ptr<const History> h) {
                         if (folder != g.repo) return;
                         std::lock_guard lock(mutex);
                         results.push_back(std::move(h));
                         arrived.notify_all();
                       });
  const auto next = [&] {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(arrived.wait_for(lock, std::chrono::seconds(60), [&] { return !results.empty(); }));
    auto h = results.back();
    results.clear();
    return h;
  };
  ASSERT_EQ(sh(g.git("symbolic-ref HEAD refs/heads/early")), 0);
  worker.request("/nonexistent-folder", kNow, 1);  // stopped or overtaken by the next
  worker.request(g.repo, kNow, 1);
  const std::shared_ptr<const History> early = next();
  ASSERT_EQ(sh(g.git("symbolic-ref HEAD refs/heads/main")), 0);
  worker.request(g.repo, kNow, 1);
  const std::shared_ptr<const History> main = next();
  EXPECT_LT(lastDone, early->commits);  // the update read only the new commits
  expectAgrees(*main, g.truth, 1);
}

TEST(History, SaysWhyThereIsNone) {
  const std::string plain = (fs::temp_directory_path() / ("varnholt-plain" + std::to_string(::getpid()))).string();
  fs::create_directories(plain);
  EXPECT_EQ(readHistory(plain, {kNow, 0, {}}).reason, "the folder is not in a git work tree");
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", plain.c_str(), 1);
  const History noGit = readHistory(plain, {kNow, 0, {}});
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(noGit.state, HistoryState::None);
  EXPECT_NE(noGit.reason.find("git could not be run"), std::string::npos);

  const Generated g("shallow");
  const std::string clone = plain + "/clone";
  ASSERT_EQ(sh("git clone -q --depth 6 file://" + g.repo + " " + clone + " 2>/dev/null"), 0);
  const History shallow = readHistory(clone, {kNow, 1, {}});
  ASSERT_GT(shallow.countsFrom, 0);
  EXPECT_EQ(shallow.reason, "shallow clone: counts start on " + isoDate(shallow.countsFrom));
  expectAgrees(shallow, g.truth, shallow.countsFrom + 1);
  fs::remove_all(plain);
}

TEST(History, ReadsWindowsAsGitDoes) {
  int64_t since = 0;
  const int64_t now = 1'709'251'200;  // 2024-03-01
  EXPECT_TRUE(parseSince("2023-12-31", now, since));
  EXPECT_EQ(isoDate(since), "2023-12-31");
  EXPECT_TRUE(parseSince("1.month", now, since));
  EXPECT_EQ(isoDate(since), "2024-02-01");
  EXPECT_EQ(isoDate(monthsBefore(1'711'843'200, 1)), "2024-02-29");  // from 2024-03-31
  EXPECT_TRUE(parseSince("2.weeks", now, since));
  EXPECT_EQ(now - since, 14 * 86400);
  for (const char* bad : {"", "12", "12.fortnights", "2024-13-01", "x.months"}) {
    EXPECT_FALSE(parseSince(bad, now, since)) << bad;
  }
}

}  // namespace
}  // namespace varnholt_app
