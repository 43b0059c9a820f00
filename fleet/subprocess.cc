#include "subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "judge.h"

extern char** environ;

namespace vramcheck::fleet {
namespace {

// How long a child has after TERM before KILL, and after KILL before it is
// given up on.
constexpr auto kKillGrace = std::chrono::seconds(5);
constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t caught_signal = 0;
bool catching = false;
sigset_t unblocked_mask;  // the mask that ppoll waits with

void OnSignal(int signal) {
  if (caught_signal == 0) caught_signal = signal;
}

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// In a new child of `parent`: its own process group, the signals as a
// program expects them, and an end of its own where the supervisor is
// killed.
void BecomeChild(pid_t parent) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  for (const int signal : kCaught) sigaction(signal, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

Subprocess Fork(const std::function<void(int write_fd)>& in_child) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) ThrowErrno("pipe2");
  std::fflush(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    ThrowErrno("fork");
  }
  if (pid == 0) {
    close(fds[0]);
    BecomeChild(parent);
    in_child(fds[1]);
    _exit(127);
  }
  close(fds[1]);
  // Also from the parent, so that a signal sent before the child ran
  // reaches its group.
  setpgid(pid, pid);
  Subprocess child;
  child.pid = pid;
  child.fd = fds[0];
  child.started = child.last_output = Clock::now();
  return child;
}

void SignalGroup(const Subprocess& child, int signal) {
  kill(-child.pid, signal);
  kill(child.pid, signal);
}

void TakeOutput(Subprocess& child) {
  char buffer[65536];
  const ssize_t n = read(child.fd, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    close(child.fd);
    child.fd = -1;
    if (!child.pending.empty() && child.on_line) child.on_line(child.pending);
    child.pending.clear();
    return;
  }
  child.last_output = Clock::now();
  child.pending.append(buffer, static_cast<std::size_t>(n));
  std::size_t start = 0;
  for (std::size_t end; (end = child.pending.find('\n', start)) !=
                        std::string::npos;
       start = end + 1) {
    if (child.on_line) child.on_line(child.pending.substr(start, end - start));
  }
  child.pending.erase(0, start);
}

// Takes the exit status of a child whose output closed, if it has ended,
// and ends whatever of its group is left.
bool TryReap(Subprocess& child) {
  const pid_t ended = waitpid(child.pid, &child.wait_status, WNOHANG);
  if (ended == 0 || (ended < 0 && errno == EINTR)) return false;
  kill(-child.pid, SIGKILL);
  child.done = true;
  return true;
}

}  // namespace

Subprocess StartFunction(const std::function<int(int fd)>& body,
                         int stderr_fd) {
  return Fork([&](int write_fd) {
    dup2(write_fd, STDOUT_FILENO);
    if (stderr_fd >= 0) dup2(stderr_fd, STDERR_FILENO);
    const int status = body(write_fd);
    std::fflush(nullptr);
    _exit(status);
  });
}

Subprocess StartProgram(const std::vector<std::string>& argv,
                        const std::vector<std::string>& extra_env) {
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_text(extra_env);
  for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  return Fork([&](int write_fd) {
    dup2(write_fd, STDOUT_FILENO);
    dup2(write_fd, STDERR_FILENO);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, STDIN_FILENO);
    execvpe(args[0], args.data(), env.data());
    const std::string line =
        argv[0] + ": cannot be started: " + std::strerror(errno) + "\n";
    [[maybe_unused]] const ssize_t written =
        write(STDERR_FILENO, line.data(), line.size());
    _exit(127);
  });
}

void CatchSignals() {
  if (catching) return;
  catching = true;
  sigset_t blocked;
  sigemptyset(&blocked);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : kCaught) {
    sigaddset(&blocked, signal);
    sigaction(signal, &action, nullptr);
  }
  // Blocked except while ppoll waits: a signal is seen there and nowhere
  // else, so no system call elsewhere is cut short by one.
  sigprocmask(SIG_BLOCK, &blocked, &unblocked_mask);
  for (const int signal : kCaught) sigdelset(&unblocked_mask, signal);
}

int CaughtSignal() { return caught_signal; }

void Supervise(const std::vector<Subprocess*>& children) {
  constexpr auto kNever = Clock::time_point::max();
  for (;;) {
    const auto now = Clock::now();
    const bool ending = caught_signal != 0;
    auto wake = kNever;
    std::vector<pollfd> fds;
    std::vector<Subprocess*> watched;
    for (Subprocess* child : children) {
      if (child->done) continue;
      if (child->killed_at != kNever && now >= child->killed_at + kKillGrace) {
        // Beyond reach, as in a driver that never returns: given up on.
        if (child->fd >= 0) close(child->fd);
        child->fd = -1;
        child->wait_status = SIGKILL;
        child->done = true;
        continue;
      }
      if (child->fd < 0 && TryReap(*child)) continue;
      if (child->killed_at == kNever) {
        const bool silent = child->silence_bound.count() > 0 &&
                            now - child->last_output >= child->silence_bound;
        if (ending && child->termed_at == kNever) {
          child->termed_at = now;
          child->interrupted = caught_signal;
          SignalGroup(*child, SIGTERM);
        } else if (ending ? now >= child->termed_at + kKillGrace
                          : silent || now >= child->deadline) {
          if (!ending && child->fd >= 0) {
            (silent ? child->stalled : child->timed_out) = true;
          }
          child->killed_at = now;
          SignalGroup(*child, SIGKILL);
        }
      }
      if (child->killed_at != kNever) {
        wake = std::min(wake, child->killed_at + kKillGrace);
      } else if (ending) {
        wake = std::min(wake, child->termed_at + kKillGrace);
      } else {
        wake = std::min(wake, child->deadline);
        if (child->silence_bound.count() > 0) {
          wake = std::min(wake, child->last_output + child->silence_bound);
        }
      }
      if (child->fd < 0) {
        // Its output closed, its exit not yet seen.
        wake = std::min(wake, now + std::chrono::milliseconds(20));
        continue;
      }
      fds.push_back({child->fd, POLLIN, 0});
      watched.push_back(child);
    }
    if (std::none_of(children.begin(), children.end(),
                     [](const Subprocess* c) { return !c->done; })) {
      return;
    }
    timespec timeout = {0, 0};
    if (wake != kNever) {
      const auto left = std::max(Clock::duration::zero(), wake - Clock::now());
      const auto ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout = {static_cast<time_t>(ns / 1000000000),
                 static_cast<long>(ns % 1000000000)};
    }
    const int ready =
        ppoll(fds.data(), fds.size(), wake == kNever ? nullptr : &timeout,
              catching ? &unblocked_mask : nullptr);
    if (ready < 0 && errno != EINTR) ThrowErrno("ppoll");
    for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
      if (fds[i].revents != 0) TakeOutput(*watched[i]);
    }
  }
}

std::string EndedWith(int wait_status) {
  if (WIFSIGNALED(wait_status)) return SignalName(WTERMSIG(wait_status));
  return "status " + std::to_string(WEXITSTATUS(wait_status));
}

bool ExitedCleanly(int wait_status) {
  return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

}  // namespace vramcheck::fleet
