// The history engine on a generated repository of git.git's size over a
// year (5,000 commits over 5,000 files of 320 lines): a full read of the
// last 12 months (wall, the engine's own CPU against git's), an update after
// 50 new commits, and the memory of the per-line data, for the 12-month
// window and for the whole history. The repository is generated once into
// a cache folder (or the folder given).

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "history/history.h"

namespace varnholt_app {
namespace {

struct Sample {
  double wall, self, children;
};

Sample sample() {
  const auto seconds = [](int who) {
    struct rusage usage;
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  };
  return {std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
          seconds(RUSAGE_SELF), seconds(RUSAGE_CHILDREN)};
}

void print(const char* what, const Sample& a, const Sample& b) {
  const double self = b.self - a.self;
  const double git = b.children - a.children;
  std::printf("%-34s wall %6.3f s   engine cpu %6.3f s   git cpu %6.3f s   engine/git %5.1f %%\n", what,
              b.wall - a.wall, self, git, git > 0 ? 100.0 * self / git : 0.0);
}

void memory(const char* what, const History& history) {
  size_t lines = 0, runs = 0;
  for (const auto& entry : history.files) {
    lines += entry.second.lineCount();
    runs += entry.second.runs.size();
  }
  const double mb = static_cast<double>(history.lineBytes()) / 1e6;
  std::printf("%-34s %zu lines in %zu runs: %.2f MB (%.1f MB per 1.6 M lines)\n", what, lines, runs, mb,
              lines ? mb * 1.6e6 / static_cast<double>(lines) : 0.0);
}

int run(int argc, char** argv) {
  namespace fs = std::filesystem;
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/tmp";
  const std::string repo = argc > 1 ? argv[1] : (cache ? std::string(cache) : home + "/.cache") + "/varnholt/history-5000";
  if (!fs::exists(repo + ".truth")) {
    std::printf("generating %s\n", repo.c_str());
    fs::remove_all(repo);
    fs::create_directories(fs::path(repo).parent_path());
    const std::string command = "python3 " VARNHOLT_GEN_HISTORY " " + repo +
                                " --commits 5000 --files 5000 --lines 320 --extra 50 --seed 7";
    if (std::system(command.c_str()) != 0) return 1;
  }
  const std::string git = "git -C " + repo + " symbolic-ref HEAD ";
  if (std::system((git + "refs/heads/main").c_str()) != 0) return 1;
  // The generator's commits are an hour apart from 1,700,000,000 on.
  HistoryOptions options;
  options.now = 1'700'000'000 + 5100 * 3600;
  Sample a = sample();
  History history = readHistory(repo, options);
  Sample b = sample();
  if (history.state != HistoryState::Read) {
    std::fprintf(stderr, "history_bench: %s\n", history.reason.c_str());
    return 1;
  }
  std::printf("%zu commits, %zu files changed in 12 months\n", history.commits, history.files.size());
  print("read 12 months", a, b);
  memory("per-line data, 12 months", history);

  if (std::system((git + "refs/heads/next").c_str()) != 0) return 1;
  const size_t before = history.commits;
  a = sample();
  updateHistory(history, repo, options);
  b = sample();
  std::system((git + "refs/heads/main").c_str());
  std::printf("(%zu new commits)\n", history.commits - before);
  print("update after 50 commits", a, b);

  options.since = 1;
  a = sample();
  const History all = readHistory(repo, options);
  b = sample();
  print("read the whole history", a, b);
  memory("per-line data, whole history", all);
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak RSS %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}

}  // namespace
}  // namespace varnholt_app

int main(int argc, char** argv) { return varnholt_app::run(argc, argv); }
