// The one-line explanations of errors that end the program.

#include "app/error_message.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace vramcheck {
namespace {

std::string Describe(auto error) {
  return DescribeException(std::make_exception_ptr(error));
}

TEST(ErrorMessageTest, NamesTheCallAndTheStatusByNameAndNumber) {
  EXPECT_EQ(Describe(cl::Error(CL_PLATFORM_NOT_FOUND_KHR, "clGetPlatformIDs")),
            "Error: clGetPlatformIDs failed with CL_PLATFORM_NOT_FOUND_KHR "
            "(-1001): no OpenCL driver is installed.");
  EXPECT_EQ(Describe(cl::Error(CL_INVALID_VALUE, "clGetDeviceInfo")),
            "Error: clGetDeviceInfo failed with CL_INVALID_VALUE (-30).");
  EXPECT_EQ(Describe(cl::Error(-9999, "clFinish")),
            "Error: clFinish failed with unknown status (-9999).");
}

TEST(ErrorMessageTest, NamesTheBuildOptionWhenTheDriverRefusesIt) {
  EXPECT_EQ(Describe(cl::Error(-66, "clBuildProgram")),
            "Error: clBuildProgram failed with CL_INVALID_COMPILER_OPTIONS "
            "(-66): the OpenCL driver refuses the build option -cl-std=CL2.0.");
  // A failed build that no device explains: the option is the likely cause.
  EXPECT_EQ(
      Describe(cl::BuildError(CL_BUILD_PROGRAM_FAILURE, "clBuildProgram",
                              {{cl::Device(), ""}, {cl::Device(), "\n"}})),
      "Error: clBuildProgram failed with CL_BUILD_PROGRAM_FAILURE "
      "(-11): the OpenCL driver refuses the build option -cl-std=CL2.0.");
  // One device's log explains it, and the hint would mislead.
  EXPECT_EQ(Describe(cl::BuildError(
                CL_BUILD_PROGRAM_FAILURE, "clBuildProgram",
                {{cl::Device(), ""}, {cl::Device(), "error: expected ';'"}})),
            "Error: clBuildProgram failed with CL_BUILD_PROGRAM_FAILURE "
            "(-11).\nBuild log for unknown device:\nerror: expected ';'");
}

TEST(ErrorMessageTest, KnowsStatusesOfNewerHeaders) {
  EXPECT_STREQ(ClStatusName(-66), "CL_INVALID_COMPILER_OPTIONS");
  EXPECT_STREQ(ClStatusName(CL_OUT_OF_RESOURCES), "CL_OUT_OF_RESOURCES");
}

TEST(ErrorMessageTest, SuggestsFewerBlocksOnlyWhereBlocksTakeTheMemory) {
  EXPECT_EQ(Describe(cl::Error(CL_MEM_OBJECT_ALLOCATION_FAILURE,
                               "clCreateBuffer")),
            "Error: clCreateBuffer failed with "
            "CL_MEM_OBJECT_ALLOCATION_FAILURE (-4): the device could not "
            "provide the resources; try fewer blocks.");
  // Drivers that allocate lazily report the shortage at the first launch
  // or map.
  EXPECT_EQ(Describe(cl::Error(CL_OUT_OF_RESOURCES, "clEnqueueNDRangeKernel")),
            "Error: clEnqueueNDRangeKernel failed with CL_OUT_OF_RESOURCES "
            "(-5): the device could not provide the resources; try fewer "
            "blocks.");
  EXPECT_EQ(Describe(cl::Error(CL_MEM_OBJECT_ALLOCATION_FAILURE,
                               "clEnqueueMapBuffer")),
            "Error: clEnqueueMapBuffer failed with "
            "CL_MEM_OBJECT_ALLOCATION_FAILURE (-4): the device could not "
            "provide the resources; try fewer blocks.");
  // Before any block exists, fewer blocks would change nothing.
  EXPECT_EQ(Describe(cl::Error(CL_OUT_OF_RESOURCES, "clCreateContext")),
            "Error: clCreateContext failed with CL_OUT_OF_RESOURCES (-5): the "
            "device could not provide the resources.");
}

TEST(ErrorMessageTest, HostErrorsSayWhatFailed) {
  EXPECT_EQ(Describe(std::bad_alloc()),
            "Error: the computer ran out of memory.");
  // Discovery and preparation each say what was missing.
  EXPECT_EQ(Describe(std::out_of_range(
                "a device reported no maximum work-item sizes")),
            "Error: a device reported no maximum work-item sizes.");
  EXPECT_EQ(Describe(std::out_of_range(
                "the OpenCL driver gave a context without devices")),
            "Error: the OpenCL driver gave a context without devices.");
}

}  // namespace
}  // namespace vramcheck
