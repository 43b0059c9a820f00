// The real binary started by a shell, as scripts start it: standard output
// that cannot be written, and the unattended run that the README describes.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "vramcheck_process.h"

namespace vramcheck {
namespace {

using test_support::ProcessResult;

// Runs `script` with bash in the folder `folder`, with the tester's command
// as its arguments ("$@") and the simulated GPU's `environment`.
ProcessResult Bash(const std::string& script, const std::string& folder,
                   std::vector<std::string> environment = {}) {
  return test_support::RunVramcheck(
      std::move(environment), "", nullptr, "end of the script",
      {"/bin/bash", "-c", "cd \"$0\" && " + script, folder});
}

// Standard output is a pipe that nobody reads any more: a FIFO whose only
// reader is closed before the tester starts.
constexpr char kClosedPipe[] =
    "mkfifo pipe && exec 3<>pipe 4>pipe 3<&- && printf '1\\n' | \"$@\" >&4";

TEST(ShellTest, OutputThatCannotBeWrittenEndsTheRun) {
  const test_support::TempFolder folder;
  struct Case {
    std::string script;
    std::string reason;
  };
  const Case cases[] = {
      {"printf '1\\n' | \"$@\" >/dev/full", "No space left on device"},
      {"printf '1\\n' | \"$@\" >&-", "Bad file descriptor"},
      {"trap '' PIPE && " + std::string(kClosedPipe), "Broken pipe"},
  };
  const std::string failed = "Error: cannot write to standard output: ";
  for (const Case& c : cases) {
    const ProcessResult result = Bash(c.script, folder.path());
    EXPECT_EQ(result.exit_status, 1) << c.script;
    // Wine gives its own reasons.
    if (test_support::kUnderWine) {
      EXPECT_TRUE(result.err.starts_with(failed)) << result.err;
    } else {
      EXPECT_EQ(result.err, failed + c.reason + ".\n") << c.script;
    }
  }
}

TEST(ShellTest, ClosedPipeEndsTheRunAsItEndsOtherTools) {
  if (test_support::kUnderWine) GTEST_SKIP() << "Windows has no SIGPIPE";
  const test_support::TempFolder folder;
  const ProcessResult result = Bash(kClosedPipe, folder.path());
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, 128 + SIGPIPE);
}

TEST(ShellTest, UnattendedRunReportsItsTotalInTheLog) {
  if (test_support::kUnderWine) GTEST_SKIP() << "the recipe is for Linux";
  // The README's recipe, shortened to eight seconds, with one bit flipping
  // in every pass.
  const test_support::TempFolder folder;
  const ProcessResult result = Bash(
      "printf '1\\n' | timeout 8 \"$@\" >vramcheck.log; echo \"status $?\"; "
      "grep -ao 'Total Error: [0-9]*' vramcheck.log | tail -n 1",
      folder.path(), {"SIMGPU_BIT_FAULTS=0:0x1000:0x00000100"});
  EXPECT_EQ(result.err, "");
  const std::string ended = "status 124\nTotal Error: ";
  ASSERT_TRUE(result.out.starts_with(ended)) << result.out;
  // A status line after the first pass and one at least five seconds later.
  EXPECT_GE(std::stoul(result.out.substr(ended.size())), 2u) << result.out;
}

}  // namespace
}  // namespace vramcheck
