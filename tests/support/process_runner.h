#ifndef VRAMCHECK_TESTS_SUPPORT_PROCESS_RUNNER_H_
#define VRAMCHECK_TESTS_SUPPORT_PROCESS_RUNNER_H_

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vramcheck::test_support {

struct ProcessResult {
  std::string out;
  std::string err;
  // Exit status, or -1 when the process did not exit.
  int exit_status = -1;
  // The signal that ended the process, or 0 when it exited.
  int signal = 0;
  // The runner killed it: `stop_when` held, or the time-out had passed.
  bool stopped = false;
  bool timed_out = false;
};

struct ProcessOptions {
  // "NAME=value" entries that replace or add to the inherited environment.
  std::vector<std::string> environment;
  // Written to standard input, which is closed afterwards.
  std::string input;
  // When set, the process is killed as soon as its standard output so far
  // satisfies it.
  std::function<bool(const std::string& out)> stop_when;
  // The process is killed after this long in any case.
  std::chrono::seconds timeout{60};
};

// Runs `argv` (the program's path, then its arguments) and collects its
// output and status. The process starts with every signal at its default
// disposition and none blocked, as a shell's child does, whatever this
// process ignores, in a process group of its own: when the runner ends it,
// it ends every process of that group. Throws std::runtime_error when it
// cannot be started.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const ProcessOptions& options);

}  // namespace vramcheck::test_support

#endif  // VRAMCHECK_TESTS_SUPPORT_PROCESS_RUNNER_H_
