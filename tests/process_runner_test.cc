// The process runner that the end-to-end tests start the tester with.

#include "process_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

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
  const ProcessResult result =
      RunProcess({"/bin/sh", "-c", "echo ready; exec sleep 60"}, options);
  EXPECT_EQ(result.out, "ready\n");
  EXPECT_EQ(result.exit_status, -1);
}

TEST(ProcessRunnerTest, MissingProgramIsAnError) {
  EXPECT_THROW(RunProcess({"/nonexistent/program"}, ProcessOptions()),
               std::runtime_error);
}

}  // namespace
}  // namespace vramcheck::test_support
