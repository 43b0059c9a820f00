// The device and block-count dialogue of the real binary, run on the
// simulated GPU platform with answers on standard input.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "vramcheck_process.h"

namespace vramcheck {
namespace {

using test_support::BlockPrompt;
using test_support::kClearScreen;
using test_support::ProcessResult;

using test_support::DeviceList;

// Runs the tester; an accepted dialogue is cut short once the screen has
// been cleared for the test run.
ProcessResult Vramcheck(std::vector<std::string> environment,
                        std::string input) {
  return test_support::RunVramcheck(
      std::move(environment), std::move(input),
      [](const std::string& out) {
        return out.find(kClearScreen) != std::string::npos;
      },
      "end of the dialogue");
}

// Expects the dialogue to have been accepted with `out` printed before the
// screen was cleared.
void ExpectAccepted(const ProcessResult& result, const std::string& out) {
  EXPECT_EQ(result.out.substr(0, out.size() + 10), out + kClearScreen);
  EXPECT_EQ(result.err, "");
}

void ExpectRejected(const ProcessResult& result, const std::string& out,
                    const std::string& line) {
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, line + "\n");
  EXPECT_EQ(result.exit_status, 1);
}

TEST(DialogueTest, OneDeviceIsListedAndChosenWithoutAsking) {
  ExpectAccepted(Vramcheck({}, "1\n"),
                 DeviceList({"Simulated GPU"}) + BlockPrompt(8));
}

TEST(DialogueTest, DeviceNumberMustBeInTheList) {
  const std::vector<std::string> three = {"SIMGPU_PLATFORMS=3",
                                          "SIMGPU_DEVICE1_NAME=second",
                                          "SIMGPU_DEVICE2_NAME=third"};
  const std::string asked =
      DeviceList({"Simulated GPU", "second", "third"}) +
      "Choose Device Number.(0..2)\n";
  for (const char* answer : {"0\n1\n", "1\n1\n", "2\n1\n"}) {
    ExpectAccepted(Vramcheck(three, answer), asked + BlockPrompt(8));
  }
  for (const char* answer : {"3\n1\n", "-1\n1\n", "2147483648\n1\n", "x\n",
                             "", "  \n\n"}) {
    ExpectRejected(Vramcheck(three, answer), asked, "Invalid device number.");
  }
}

TEST(DialogueTest, BothAnswersMayStandOnOneLine) {
  const ProcessResult result = Vramcheck(
      {"SIMGPU_PLATFORMS=2", "SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x280000008"},
      "1 5\n");
  ExpectAccepted(result, DeviceList({"Simulated GPU", "Simulated GPU"}) +
                             "Choose Device Number.(0..1)\n" + BlockPrompt(80));
}

TEST(DialogueTest, BlockOfItsOwnSizeIsTooMuchForADevice) {
  // A device of exactly 128 MiB has no room for a block beside the
  // counters, so even one block is refused.
  ExpectRejected(
      Vramcheck({"SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x8000000"}, "1\n"),
      DeviceList({"Simulated GPU"}) + BlockPrompt(0),
      "Invalid memory blocks number.");
}

TEST(DialogueTest, FindsTheDeviceOfAnotherRuntime) {
  if (const char* why = test_support::OclgrindUnavailable()) {
    GTEST_SKIP() << why;
  }
  // Oclgrind's device is of several types at once, GPU among them, and has
  // exactly one block's worth of memory, which leaves no room for a block
  // beside the counters.
  const ProcessResult result = test_support::RunVramcheckOnOclgrind(
      {"--check-api"}, "1\n", nullptr, "end of the program",
      std::chrono::seconds(60));
  ExpectRejected(result, DeviceList({"Oclgrind Simulator"}) + BlockPrompt(0),
                 "Invalid memory blocks number.");
}

TEST(DialogueTest, BlockCountMustBeFromOneToTheLimit) {
  const std::vector<std::string> three_blocks = {
      "SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008"};
  const std::string asked = DeviceList({"Simulated GPU"}) + BlockPrompt(3);
  for (const char* answer : {"1\n", "3\n", "\n\n 2 trailing"}) {
    ExpectAccepted(Vramcheck(three_blocks, answer), asked);
  }
  for (const char* answer :
       {"0\n", "-5\n", "4\n", "4294967297\n", "two\n", ""}) {
    ExpectRejected(Vramcheck(three_blocks, answer), asked,
                   "Invalid memory blocks number.");
  }
}

TEST(DialogueTest, NoGpuDeviceMeansDeviceNotFound) {
  for (const char* platforms : {"0", "0,0"}) {
    ExpectRejected(
        Vramcheck({std::string("SIMGPU_PLATFORMS=") + platforms}, "0\n"), "",
        "Device not found.");
  }
}

TEST(DialogueTest, NoOpenClDriverIsExplained) {
  const test_support::TempFolder no_vendors;
  const ProcessResult result =
      Vramcheck({"OCL_ICD_VENDORS=" + no_vendors.path()}, "0\n");
  ExpectRejected(result, "",
                 "Error: clGetPlatformIDs failed with CL_PLATFORM_NOT_FOUND_KHR "
                 "(-1001): no OpenCL driver is installed.");
  if (!test_support::kUnderWine) return;
  // Without a GPU driver, Windows has no OpenCL.dll at all.
  ExpectRejected(Vramcheck({"WINEDLLOVERRIDES=opencl="}, "0\n"), "",
                 "Error: cannot load OpenCL.dll (Windows error 126): no OpenCL "
                 "driver is installed; the GPU's display driver (NVIDIA, AMD or "
                 "Intel) provides it.");
}

// Sixteen devices on one platform, each named after its setting; the list
// shows the ones that qualify, in order.
TEST(DialogueTest, ListsOnlyDevicesWithinEveryBound) {
  struct Device {
    const char* name;
    const char* key;
    const char* value;
  };
  const Device devices[] = {
      {"group 64", "MAX_WORK_GROUP_SIZE", "64"},
      {"group 63", "MAX_WORK_GROUP_SIZE", "63"},
      {"items 64", "MAX_WORK_ITEM_SIZES", "64,1,1"},
      {"items 63", "MAX_WORK_ITEM_SIZES", "63,1024,1024"},
      {"alloc 0x8000000", "MAX_MEM_ALLOC_SIZE", "0x8000000"},
      {"alloc 0x7FFFFFF", "MAX_MEM_ALLOC_SIZE", "0x7FFFFFF"},
      {"unavailable", "AVAILABLE", "0"},
      {"available 2", "AVAILABLE", "2"},
      {"no compiler", "COMPILER_AVAILABLE", "0"},
      {"extension alone", "EXTENSIONS", "cl_khr_global_int32_base_atomics"},
      {"extension first", "EXTENSIONS",
       "cl_khr_global_int32_base_atomics cl_khr_fp64"},
      {"extension last", "EXTENSIONS",
       "cl_khr_fp64 cl_khr_global_int32_base_atomics"},
      {"extension prefix", "EXTENSIONS",
       "cl_khr_fp64 cl_khr_global_int32_base_atomics_plus"},
      {"extension absent", "EXTENSIONS",
       "cl_khr_fp64 cl_khr_global_int32_extended_atomics"},
      {"extension short", "EXTENSIONS", "cl_khr_global_int32_base"},
      {"extension empty", "EXTENSIONS", ""},
  };
  std::vector<std::string> environment = {"SIMGPU_PLATFORMS=16"};
  for (std::size_t i = 0; i < std::size(devices); ++i) {
    const std::string prefix = "SIMGPU_DEVICE" + std::to_string(i) + "_";
    environment.push_back(prefix + "NAME=" + devices[i].name);
    environment.push_back(prefix + devices[i].key + "=" + devices[i].value);
  }
  const ProcessResult result = Vramcheck(environment, "");
  EXPECT_EQ(result.out,
            DeviceList({"group 64", "items 64", "alloc 0x8000000", "available 2",
                  "extension alone", "extension first", "extension last",
                  "extension prefix"}) +
                "Choose Device Number.(0..7)\n");
  EXPECT_EQ(result.err, "Invalid device number.\n");
}

TEST(DialogueTest, LaterQueriesAreSkippedForADeviceThatFailsATest) {
  // The failing extension query is never made for the first device; the
  // second device gets that far and ends the program with the error.
  ExpectRejected(Vramcheck({"SIMGPU_DEVICE0_MAX_WORK_GROUP_SIZE=32",
                            "SIMGPU_DEVICE0_FAIL_QUERY=EXTENSIONS=-30"},
                           "0\n"),
                 "", "Device not found.");
  ExpectRejected(
      Vramcheck({"SIMGPU_DEVICE0_FAIL_QUERY=EXTENSIONS=-30"}, "0\n"), "",
      "Error: clGetDeviceInfo failed with CL_INVALID_VALUE (-30).");
}

TEST(DialogueTest, EmptyWorkItemSizesAreExplained) {
  ExpectRejected(Vramcheck({"SIMGPU_DEVICE0_MAX_WORK_ITEM_SIZES="}, "0\n"), "",
                 "Error: a device reported no maximum work-item sizes.");
}

TEST(DialogueTest, FailedQueriesGetNoAdviceAboutBlocks) {
  // Discovery runs before any block count is asked for.
  ExpectRejected(
      Vramcheck({"SIMGPU_DEVICE0_FAIL_QUERY=AVAILABLE=-5"}, "0\n"), "",
      "Error: clGetDeviceInfo failed with CL_OUT_OF_RESOURCES (-5): the "
      "device could not provide the resources.");
}

TEST(DialogueTest, FailedNameQueryIsExplainedOnALineOfItsOwn) {
  // The device's line is ended where it stands, on standard output, so that
  // the message neither continues it on a terminal that shows both streams
  // nor starts standard error with an empty line.
  ExpectRejected(Vramcheck({"SIMGPU_DEVICE0_FAIL_QUERY=NAME=-5"}, "0\n"),
                 "Device Number: Device Name\n0: \n",
                 "Error: clGetDeviceInfo failed with CL_OUT_OF_RESOURCES "
                 "(-5): the device could not provide the resources.");
}

TEST(DialogueTest, PlatformsKeepTheirOrderAndNamesAreShownAsGiven) {
  const ProcessResult result = Vramcheck(
      {"SIMGPU_PLATFORMS=1,0,2", "SIMGPU_DEVICE0_NAME=first platform  ",
       "SIMGPU_DEVICE1_NAME=third platform, 0",
       "SIMGPU_DEVICE2_NAME=third platform, 1"},
      "");
  EXPECT_EQ(result.out, DeviceList({"first platform  ", "third platform, 0",
                              "third platform, 1"}) +
                            "Choose Device Number.(0..2)\n");
}

}  // namespace
}  // namespace vramcheck
