#ifndef VRAMCHECK_FLEET_SUBPROCESS_H_
#define VRAMCHECK_FLEET_SUBPROCESS_H_

// Child processes and their supervision on POSIX systems: each child runs
// in a process group of its own, sends its output through a pipe, and is
// watched in one ppoll loop that also takes INT, TERM and HUP, so that a
// signal, a silence or a time limit is seen at once.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vramcheck::fleet {

using Clock = std::chrono::steady_clock;

// A child and what the supervisor knows of it.
struct Subprocess {
  pid_t pid = -1;
  int fd = -1;  // the read end of its output pipe; -1 once it closed
  // Called with each whole line of its output, without the line end.
  std::function<void(const std::string& line)> on_line;
  // Ended once its time has come; Clock::time_point::max() for never.
  Clock::time_point deadline = Clock::time_point::max();
  // Ended where no output came for this long; zero for no bound.
  std::chrono::milliseconds silence_bound{0};

  Clock::time_point started;
  Clock::time_point last_output;
  std::string pending;  // output after the last line end
  Clock::time_point termed_at = Clock::time_point::max();
  Clock::time_point killed_at = Clock::time_point::max();
  bool done = false;
  bool stalled = false;    // ended for its silence
  bool timed_out = false;  // ended at its deadline
  int interrupted = 0;     // the signal that ended it, or 0
  int wait_status = 0;     // as waitpid gives it
};

// Starts a child that runs `body` with the write end of its output pipe,
// its standard output going to the pipe as well and its standard error to
// `stderr_fd`; it exits with what `body` returns. Throws std::system_error.
Subprocess StartFunction(const std::function<int(int fd)>& body,
                         int stderr_fd);
// Starts `argv` with standard output and error into the pipe, and with
// `extra_env` ("NAME=VALUE") added to the environment. A program that
// cannot be started exits 127 with a line saying why.
Subprocess StartProgram(const std::vector<std::string>& argv,
                        const std::vector<std::string>& extra_env);

// Takes INT, TERM and HUP into the supervision loop from now on: the first
// one ends every child, later ones are ignored.
void CatchSignals();
// The first of those signals that came, or 0.
int CaughtSignal();

// Watches `children` until all have ended: hands their lines on, ends a
// child (and its whole process group) at its deadline, after its silence
// bound, or on a signal (TERM, then KILL after five seconds), and collects
// each exit status. No process of a child's group outlives it; a child that
// even KILL does not end within five seconds (stuck in its driver) is given
// up on, as killed.
void Supervise(const std::vector<Subprocess*>& children);

// "status N" or "SIGX" for a waitpid status.
std::string EndedWith(int wait_status);
// True where a waitpid status is a normal exit with status 0.
bool ExitedCleanly(int wait_status);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_SUBPROCESS_H_
