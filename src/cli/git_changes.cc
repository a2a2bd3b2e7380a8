#include "cli/git_changes.h"

#include <algorithm>
#include <charconv>

#include "base/failure.h"
#include "history/git_process.h"

namespace varnholt_app {
namespace {

bool readInt(std::string_view& text, int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

std::vector<std::string> git(const std::string& folder, std::vector<std::string> args) {
  std::vector<std::string> argv = {"git", "-C", folder, "-c", "core.quotePath=false"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

void parseUnifiedDiff(std::string_view diff, ChangedLines& out) {
  std::vector<LineRange>* ranges = nullptr;
  // Lines still to come in the current hunk. Inside a hunk every line is
  // content, whatever it starts with: an added "++ i;" reads "+++ i;".
  int64_t oldLeft = 0;
  int64_t newLeft = 0;
  size_t start = 0;
  while (start < diff.size()) {
    size_t end = diff.find('\n', start);
    if (end == std::string_view::npos) end = diff.size();
    std::string_view line = diff.substr(start, end - start);
    start = end + 1;
    if (oldLeft > 0 || newLeft > 0) {
      const char kind = line.empty() ? ' ' : line.front();
      if (kind == '+') {
        --newLeft;
      } else if (kind == '-') {
        --oldLeft;
      } else if (kind != '\\') {  // "\ No newline at end of file" counts for neither
        --oldLeft;
        --newLeft;
      }
      continue;
    }
    if (line.substr(0, 11) == "diff --git ") {
      ranges = nullptr;
    } else if (line.substr(0, 4) == "+++ ") {
      // A name with a blank is followed by a tab.
      std::string_view name = line.substr(4);
      if (!name.empty() && name.back() == '\t') name.remove_suffix(1);
      const std::string path = unquoteGitPath(name);
      ranges = path.rfind("b/", 0) == 0 ? &out[path.substr(2)] : nullptr;
    } else if (line.substr(0, 4) == "@@ -") {
      // "@@ -a[,b] +c[,d] @@": the new side holds lines c .. c+d-1.
      std::string_view rest = line.substr(4);
      int64_t oldFirst = 0;
      int64_t oldCount = 1;
      int64_t first = 0;
      int64_t count = 1;
      if (!readInt(rest, oldFirst)) continue;
      if (!rest.empty() && rest.front() == ',') {
        rest.remove_prefix(1);
        if (!readInt(rest, oldCount)) continue;
      }
      if (rest.substr(0, 2) != " +") continue;
      rest.remove_prefix(2);
      if (!readInt(rest, first)) continue;
      if (!rest.empty() && rest.front() == ',') {
        rest.remove_prefix(1);
        if (!readInt(rest, count)) continue;
      }
      oldLeft = std::max<int64_t>(oldCount, 0);
      newLeft = std::max<int64_t>(count, 0);
      if (ranges != nullptr && count > 0 && first > 0 && first + count - 1 <= INT32_MAX) {
        ranges->push_back({static_cast<int32_t>(first), static_cast<int32_t>(first + count - 1)});
      }
    }
  }
}

ChangedLines changedLinesSince(const std::string& folder, const std::string& revision) {
  const CapturedOutput inside =
      captureCommand(git(folder, {"rev-parse", "--is-inside-work-tree"}), /*withErrors=*/true);
  if (!inside.outcome.started) throw Failure("git could not be run");
  if (inside.out.find("dubious ownership") != std::string::npos) {
    throw Failure("git refuses the repository: it belongs to another user (see git's safe.directory)");
  }
  // The answer is the last line; warnings may come before it.
  const std::string_view answer = inside.out;
  if (inside.outcome.exitCode != 0 || (answer != "true\n" && !answer.ends_with("\ntrue\n"))) {
    throw Failure("the folder is not in a git work tree");
  }
  const CapturedOutput commit = captureCommand(git(
      folder, {"rev-parse", "--verify", "--quiet", "--end-of-options", revision + "^{commit}"}));
  std::string hash = commit.out.substr(0, commit.out.find('\n'));
  if (commit.outcome.exitCode != 0 || hash.empty()) throw Failure("unknown revision \"" + revision + "\"");
  const CapturedOutput diff =
      captureCommand(git(folder, {"diff", "--relative", "--text", "--no-color", "--no-ext-diff", "--no-textconv",
                              "-U0", "--src-prefix=a/", "--dst-prefix=b/", hash, "--"}));
  const CapturedOutput untracked =
      captureCommand(git(folder, {"ls-files", "--others", "--exclude-standard", "-z"}));
  if (diff.outcome.exitCode != 0 || untracked.outcome.exitCode != 0) throw Failure("git diff failed");
  ChangedLines out;
  parseUnifiedDiff(diff.out, out);
  for (size_t start = 0; start < untracked.out.size();) {
    size_t end = untracked.out.find('\0', start);
    if (end == std::string::npos) end = untracked.out.size();
    if (end > start) out[untracked.out.substr(start, end - start)] = {{1, INT32_MAX}};
    start = end + 1;
  }
  return out;
}

}  // namespace varnholt_app
