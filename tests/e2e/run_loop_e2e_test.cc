// The run loop of the real binary on the simulated GPU: the cleared screen,
// the status line, injected faults and failures during preparation; and
// clean passes on Mesa's rusticl, an OpenCL driver written by others.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "vramcheck_process.h"

namespace vramcheck {
namespace {

using test_support::BlockPrompt;
using test_support::DeviceList;
using test_support::kClearScreen;
using test_support::ProcessResult;
using test_support::StatusLineTotals;

constexpr char kLineStart[] = "\x1b[0;0H\x1b[0J";

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Runs one block on the default device until `lines` status lines are out.
ProcessResult RunUntilStatusLines(std::vector<std::string> environment,
                                  int lines) {
  return test_support::RunVramcheck(
      std::move(environment), "1\n",
      [lines](const std::string& out) {
        return Count(out, "Total Error: ") >= lines &&
               out.back() != ' ';  // the number has arrived
      },
      lines == 1 ? "status line" : std::to_string(lines) + " status lines");
}

TEST(RunLoopTest, ClearsTheScreenAndDrawsTheStatusLine) {
  const ProcessResult result = RunUntilStatusLines({}, 1);
  const std::string dialogue =
      DeviceList({"Simulated GPU"}) + BlockPrompt(8) + kClearScreen;
  ASSERT_EQ(result.out.substr(0, dialogue.size()), dialogue);
  const std::string line = result.out.substr(dialogue.size());
  EXPECT_EQ(line.substr(0, 10), kLineStart);
  EXPECT_EQ(StatusLineTotals(line), std::vector<unsigned long>{0}) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(result.err, "");
}

TEST(RunLoopTest, InjectedFlipAddsOnePerPass) {
  const test_support::TempFolder folder;
  const std::string log = folder.File("simgpu.log");
  const ProcessResult result = RunUntilStatusLines(
      {"SIMGPU_BIT_FAULTS=0:0x1000:0x00000100", "SIMGPU_LOG=" + log}, 2);
  const std::vector<unsigned long> totals = StatusLineTotals(result.out);
  ASSERT_EQ(totals.size(), 2u) << result.out;
  EXPECT_EQ(totals[0], 1u);
  // The second line follows some later pass k and shows k.
  std::ifstream file(log);
  std::vector<std::string> arguments;
  int reads = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with("arg ")) arguments.push_back(line);
    reads += line == "launch Read";
  }
  EXPECT_GE(totals[1], 2u);
  EXPECT_LE(totals[1], static_cast<unsigned long>(reads));
  // Passes are numbered from 1, and the pattern follows the number.
  arguments.resize(6);
  EXPECT_EQ(arguments, (std::vector<std::string>{
                           "arg Write 1 1048839", "arg Read 2 1048839",
                           "arg Read 3 1", "arg Write 1 2097678",
                           "arg Read 2 2097678", "arg Read 3 2"}));
}

// Runs one block to the end of the program.
ProcessResult RunToEnd(std::vector<std::string> environment,
                       std::string input = "1\n") {
  return test_support::RunVramcheck(std::move(environment), std::move(input),
                                    nullptr, "end of the program");
}

TEST(RunLoopTest, BuildFailureShowsTheBuildLog) {
  const ProcessResult result = RunToEnd({"SIMGPU_BREAK_BUILD=1"});
  EXPECT_EQ(result.out, DeviceList({"Simulated GPU"}) + BlockPrompt(8));
  // PoCL's compiler may write a note of its own to standard error first.
  const std::string message =
      "Error: clBuildProgram failed with CL_BUILD_PROGRAM_FAILURE (-11).\n"
      "Build log for Simulated GPU:\n";
  const std::size_t at = result.err.find(message);
  ASSERT_NE(at, std::string::npos) << result.err;
  EXPECT_NE(result.err.find("error", at + message.size()), std::string::npos);
  EXPECT_EQ(result.exit_status, 1);
}

TEST(RunLoopTest, RefusedBuildOptionIsNamedAsTheCause) {
  // As drivers without OpenCL C 2.0 may do; they leave the build log empty.
  const ProcessResult result = RunToEnd({"SIMGPU_REFUSE_CL_STD=-43"});
  EXPECT_EQ(result.out, DeviceList({"Simulated GPU"}) + BlockPrompt(8));
  EXPECT_EQ(result.err,
            "Error: clBuildProgram failed with CL_INVALID_BUILD_OPTIONS (-43): "
            "the OpenCL driver refuses the build option -cl-std=CL2.0.\n");
  EXPECT_EQ(result.exit_status, 1);
}

TEST(RunLoopTest, AllocationFailureIsExplained) {
  const ProcessResult result = RunToEnd({"SIMGPU_FAIL_BLOCK=2"}, "2\n");
  EXPECT_EQ(result.out, DeviceList({"Simulated GPU"}) + BlockPrompt(8));
  EXPECT_EQ(result.err,
            "Error: clCreateBuffer failed with CL_MEM_OBJECT_ALLOCATION_FAILURE "
            "(-4): the device could not provide the resources; try fewer "
            "blocks.\n");
  EXPECT_EQ(result.exit_status, 1);
}

TEST(RunLoopTest, FailureDuringTheRunEndsTheOpenLineAndIsOneLine) {
  // The first Read launch fails, as on drivers that allocate lazily.
  const ProcessResult result = RunToEnd({"SIMGPU_FAIL_LAUNCH=Read"});
  EXPECT_EQ(result.out, DeviceList({"Simulated GPU"}) + BlockPrompt(8) +
                            kClearScreen + "\n");
  EXPECT_EQ(result.err,
            "Error: clEnqueueNDRangeKernel failed with CL_OUT_OF_RESOURCES "
            "(-5): the device could not provide the resources; try fewer "
            "blocks.\n");
  EXPECT_EQ(result.exit_status, 1);
}

TEST(RunLoopTest, PrepareRefusalIsTheOnlyMessage) {
  // The device reports less memory to the second query than to the first.
  const ProcessResult result =
      RunToEnd({"SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008,0x8000007"});
  EXPECT_EQ(result.out, DeviceList({"Simulated GPU"}) + BlockPrompt(3));
  EXPECT_EQ(result.err, "Failure to prepare memory test.\n");
  EXPECT_EQ(result.exit_status, 1);
}

// Mesa's rusticl driver library as the build found it; empty where Mesa's
// OpenCL is not installed.
constexpr char kRusticl[] = RUSTICL_LIBRARY;

TEST(RunLoopTest, RunsCleanPassesOnMesasRusticl) {
  if (kRusticl[0] == '\0') GTEST_SKIP() << "mesa-opencl-icd is not installed";
  // rusticl alone, with its CPU device llvmpipe posing as a GPU.
  const test_support::TempFolder vendors;
  std::ofstream(vendors.File("rusticl.icd")) << kRusticl << "\n";
  const ProcessResult result = test_support::RunVramcheck(
      {"OCL_ICD_VENDORS=" + vendors.path(), "RUSTICL_ENABLE=llvmpipe",
       "RUSTICL_DEVICE_TYPE=gpu"},
      "1\n",
      [](const std::string& out) { return StatusLineTotals(out).size() >= 2; },
      "2 status lines", {}, std::chrono::seconds(180));
  EXPECT_TRUE(std::regex_search(
      result.out,
      std::regex("^Device Number: Device Name\n0: llvmpipe .*\n"
                 "How many memory blocks will you test\\? \\(max: [0-9]+ "
                 "blocks\\)\n\x1b\\[2J\x1b\\[0;0H")))
      << result.out;
  // It builds the program with -cl-std=CL2.0, although it reports OpenCL C
  // 1.2, and runs it correctly.
  EXPECT_EQ(StatusLineTotals(result.out), (std::vector<unsigned long>{0, 0}))
      << result.out << result.err;
  // Mesa 22's profiling clock times every launch at 1 ns, which would read
  // 125000000.00 GiB/s; no CPU moves 1000 GiB/s.
  static const std::regex kSpeed("(Write|Read): ([0-9.]+) ");
  for (auto it =
           std::sregex_iterator(result.out.begin(), result.out.end(), kSpeed);
       it != std::sregex_iterator(); ++it) {
    EXPECT_GT(std::stod((*it)[2]), 0.0) << (*it)[0];
    EXPECT_LT(std::stod((*it)[2]), 1000.0) << (*it)[0];
  }
  // Standard error is not checked: Mesa writes notes of its own there (Mesa
  // 26 warns about the libclc it was built with).
}

}  // namespace
}  // namespace vramcheck
