#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "history/git_process.h"

extern char** environ;

namespace varnholt_app {

ProcessOutcome streamCommand(const std::vector<std::string>& argv,
                             const std::function<bool(std::string_view)>& sink, bool withErrors) {
  ProcessOutcome outcome;
  int fds[2];
  if (argv.empty() || ::pipe2(fds, O_CLOEXEC) != 0) return outcome;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  if (withErrors) {
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    return outcome;
  }
  outcome.started = true;
  std::vector<char> buffer(1 << 18);
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer.data(), buffer.size());
    if (n > 0) {
      if (!sink(std::string_view(buffer.data(), static_cast<size_t>(n)))) {
        outcome.stopped = true;
        ::kill(pid, SIGTERM);
        break;
      }
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  return outcome;
}

}  // namespace varnholt_app
