#ifndef VRAMCHECK_KERNELS_MEMORY_TEST_PROGRAM_H_
#define VRAMCHECK_KERNELS_MEMORY_TEST_PROGRAM_H_

#include <string_view>

namespace vramcheck {

// OpenCL C source of the device test program (memory_test.cl), embedded at
// build time. It defines the test pattern and the kernels "Write" and "Read".
extern const std::string_view kMemoryTestProgram;

}  // namespace vramcheck

#endif  // VRAMCHECK_KERNELS_MEMORY_TEST_PROGRAM_H_
