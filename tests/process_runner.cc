#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace vramcheck::testing {
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

[[noreturn]] void ExecChild(const std::string& program,
                            const ProcessOptions& options, const Pipe& in,
                            const Pipe& out, const Pipe& err) {
  dup2(in.read_end, STDIN_FILENO);
  dup2(out.write_end, STDOUT_FILENO);
  dup2(err.write_end, STDERR_FILENO);
  for (const std::string& entry : options.environment) {
    const std::size_t equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(),
           1);
  }
  execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
  _exit(127);
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

ProcessResult RunProcess(const std::string& program,
                         const ProcessOptions& options) {
  // A child that ends before reading its input must not end the caller.
  signal(SIGPIPE, SIG_IGN);
  const Pipe in = MakePipe();
  const Pipe out = MakePipe();
  const Pipe err = MakePipe();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) ExecChild(program, options, in, out, err);

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
  bool killed = false;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (options.stop_when && options.stop_when(result.out)) break;
    if (std::chrono::steady_clock::now() > deadline) break;
    if (poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && fds[i].revents != 0 &&
          !Drain(fds[i].fd, i == 0 ? result.out : result.err)) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  if (fds[0].fd >= 0 || fds[1].fd >= 0) {
    kill(pid, SIGKILL);
    killed = true;
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

}  // namespace vramcheck::testing
