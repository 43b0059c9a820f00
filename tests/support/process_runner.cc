#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>
#include <stdexcept>

extern char** environ;

namespace vramcheck::test_support {
namespace {

struct Pipe {
  int read_end = -1;
  int write_end = -1;
};

Pipe MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  return {fds[0], fds[1]};
}

// This process's environment with `added` ("NAME=value") put in place of
// any entry of the same name.
std::vector<std::string> ChildEnvironment(
    const std::vector<std::string>& added) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& addition : added) {
      replaced = replaced || addition.starts_with(name);
    }
    if (!replaced) entries.emplace_back(text);
  }
  entries.insert(entries.end(), added.begin(), added.end());
  return entries;
}

// The NULL-terminated array of C strings that exec expects.
std::vector<char*> CStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts `argv` with its standard streams on the pipes. Everything the child
// needs is built here, before it exists: posix_spawn runs no code of ours in
// the child.
pid_t Spawn(std::vector<std::string> argv, std::vector<std::string> environment,
            const Pipe& in, const Pipe& out, const Pipe& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read_end, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.write_end, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write_end, STDERR_FILENO);
  // This process ignores SIGPIPE; the child gets what a shell gives it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  // A group of its own, so that ending it ends what it started too.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETPGROUP);
  std::vector<char*> arguments = CStrings(argv);
  std::vector<char*> variables = CStrings(environment);
  pid_t pid = -1;
  const int status = posix_spawn(&pid, arguments[0], &actions, &attributes,
                                 arguments.data(), variables.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0) {
    throw std::runtime_error("cannot start " + argv[0] + ": " +
                             std::strerror(status));
  }
  return pid;
}

// Appends what `fd` has to `text`; false at end of file.
bool Drain(int fd, std::string& text) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  text.append(buffer, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const ProcessOptions& options) {
  // A child that ends before reading its input must not end the caller.
  signal(SIGPIPE, SIG_IGN);
  const Pipe in = MakePipe();
  const Pipe out = MakePipe();
  const Pipe err = MakePipe();
  const pid_t pid =
      Spawn(argv, ChildEnvironment(options.environment), in, out, err);

  close(in.read_end);
  close(out.write_end);
  close(err.write_end);
  // Inputs are short enough for the pipe's buffer.
  if (write(in.write_end, options.input.data(), options.input.size()) < 0) {
    // The child may already have ended; its output tells.
  }
  close(in.write_end);

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  pollfd fds[2] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    result.stopped = options.stop_when && options.stop_when(result.out);
    result.timed_out = std::chrono::steady_clock::now() > deadline;
    if (result.stopped || result.timed_out) break;
    if (poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && fds[i].revents != 0 &&
          !Drain(fds[i].fd, i == 0 ? result.out : result.err)) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  if (result.stopped || result.timed_out) kill(-pid, SIGKILL);
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace vramcheck::test_support
