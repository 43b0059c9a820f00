// The process runner that the end-to-end tests start the tester with.

#include "process_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace vramcheck::test_support {
namespace {

TEST(ProcessRunnerTest, PassesArgumentsInputAndEnvironment) {
  setenv("RUNNER_INHERITED", "old", 1);
  ProcessOptions options;
  options.environment = {"RUNNER_INHERITED=new", "RUNNER_ADDED=a=b"};
  options.input = "typed\n";
  const ProcessResult result = RunProcess(
      {"/bin/sh", "-c",
       "read line; echo \"$1 $line $RUNNER_INHERITED $RUNNER_ADDED\"; "
       "env | grep -c '^RUNNER_INHERITED=' >&2; exit 3",
       "sh", "argument"},
      options);
  unsetenv("RUNNER_INHERITED");
  EXPECT_EQ(result.out, "argument typed new a=b\n");
  EXPECT_EQ(result.err, "1\n");  // replaced, not added a second time
  EXPECT_EQ(result.exit_status, 3);
}

TEST(ProcessRunnerTest, StopsAProcessOnceItsOutputSuffices) {
  ProcessOptions options;
  options.stop_when = [](const std::string& out) {
    return out.find("ready") != std::string::npos;
  };
  // The shell starts a process of its own, which must end with it.
  const ProcessResult result = RunProcess(
      {"/bin/sh", "-c", "sleep 60 & echo \"$!\"; echo ready; wait"}, options);
  EXPECT_EQ(result.exit_status, -1);
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.timed_out);
  const std::size_t newline = result.out.find('\n');
  ASSERT_EQ(result.out.substr(newline), "\nready\n");
  // Gone, or a zombie where nothing reaps orphans, once the signal has
  // arrived.
  const std::string stat_path = "/proc/" + result.out.substr(0, newline) + "/stat";
  std::string state;
  for (int tries = 0; tries < 100; ++tries) {
    state.clear();
    std::ifstream stat(stat_path);
    std::string pid, name;
    if (!(stat >> pid >> name >> state) || state == "Z") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(state.empty() || state == "Z") << "sleep still runs: " << state;
}

TEST(ProcessRunnerTest, TellsACrashFromATimeOut) {
  const ProcessResult crash =
      RunProcess({"/bin/sh", "-c", "kill -SEGV $$"}, ProcessOptions());
  EXPECT_EQ(crash.signal, SIGSEGV);
  EXPECT_FALSE(crash.stopped || crash.timed_out);
  ProcessOptions options;
  options.timeout = std::chrono::seconds(1);
  const ProcessResult slow = RunProcess({"/bin/sleep", "60"}, options);
  EXPECT_TRUE(slow.timed_out);
  EXPECT_EQ(slow.exit_status, -1);
}

TEST(ProcessRunnerTest, MissingProgramIsAnError) {
  EXPECT_THROW(RunProcess({"/nonexistent/program"}, ProcessOptions()),
               std::runtime_error);
}

}  // namespace
}  // namespace vramcheck::test_support
