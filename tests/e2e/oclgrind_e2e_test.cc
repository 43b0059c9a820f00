// The real binary on Oclgrind, an OpenCL runtime written by others that
// interprets every work-item and checks every memory access of a kernel.
// Each test runs one whole pass over one block with Oclgrind's API checks,
// the second also with its data-race and uninitialised-value detection.
// Oclgrind reports what it finds on standard error, where the tester itself
// writes nothing while a test runs cleanly. An interpreter is slow: these
// tests take one to a few minutes each.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "vramcheck_process.h"

namespace vramcheck {
namespace {

using test_support::BlockPrompt;
using test_support::DeviceList;
using test_support::kClearScreen;
using test_support::ProcessResult;
using test_support::StatusLineTotals;

// Runs the tester on one block of a device with room for two, until the
// first status line is out.
ProcessResult FirstPass(std::vector<std::string> checks,
                        std::chrono::seconds timeout) {
  // Two blocks and the 8-byte error counters.
  checks.insert(checks.end(), {"--global-mem-size", "268435464"});
  return test_support::RunVramcheckOnOclgrind(
      std::move(checks), "1\n",
      [](const std::string& out) { return !StatusLineTotals(out).empty(); },
      "status line", timeout);
}

void ExpectCleanPass(const ProcessResult& result) {
  const std::string dialogue =
      DeviceList({"Oclgrind Simulator"}) + BlockPrompt(2) + kClearScreen;
  EXPECT_EQ(result.out.substr(0, dialogue.size()), dialogue);
  EXPECT_EQ(StatusLineTotals(result.out), std::vector<unsigned long>{0})
      << result.out;
  EXPECT_EQ(result.err, "") << "Oclgrind found a fault (or the tester one)";
}

TEST(OclgrindTest, PassIsCleanWithApiChecks) {
  if (const char* why = test_support::OclgrindUnavailable()) {
    GTEST_SKIP() << why;
  }
  // Out-of-bounds accesses are reported with or without further checks.
  ExpectCleanPass(FirstPass({"--check-api"}, std::chrono::seconds(400)));
}

TEST(OclgrindTest, KernelsHaveNoDataRaceAndUseNoUninitializedValue) {
  if (const char* why = test_support::OclgrindUnavailable()) {
    GTEST_SKIP() << why;
  }
  // An element that Write leaves unwritten shows up here when Read loads
  // it, and so does a store that races with another work-item's access.
  ExpectCleanPass(FirstPass({"--check-api", "--data-races", "--uninitialized"},
                            std::chrono::seconds(900)));
}

}  // namespace
}  // namespace vramcheck
