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

TEST(ErrorMessageTest, KnowsStatusesOfNewerHeaders) {
  EXPECT_STREQ(ClStatusName(-66), "CL_INVALID_COMPILER_OPTIONS");
  EXPECT_STREQ(ClStatusName(CL_OUT_OF_RESOURCES), "CL_OUT_OF_RESOURCES");
}

TEST(ErrorMessageTest, SuggestsFewerBlocksWhenMemoryRunsOut) {
  EXPECT_NE(Describe(cl::Error(CL_MEM_OBJECT_ALLOCATION_FAILURE,
                               "clCreateBuffer"))
                .find("(-4): the device could not provide the resources"),
            std::string::npos);
}

TEST(ErrorMessageTest, ExplainsHostErrors) {
  EXPECT_EQ(Describe(std::bad_alloc()),
            "Error: the computer ran out of memory.");
  EXPECT_EQ(Describe(std::out_of_range("vector::_M_range_check")),
            "Error: a device reported no maximum work-item sizes "
            "(vector::_M_range_check).");
}

}  // namespace
}  // namespace vramcheck
