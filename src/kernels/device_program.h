#ifndef VRAMCHECK_KERNELS_DEVICE_PROGRAM_H_
#define VRAMCHECK_KERNELS_DEVICE_PROGRAM_H_

#include <string_view>

namespace vramcheck {

// OpenCL C source of the device test program (device_program.cl), embedded at
// build time. It defines the test pattern and the kernels "Write" and "Read".
extern const std::string_view kDeviceProgram;

}  // namespace vramcheck

#endif  // VRAMCHECK_KERNELS_DEVICE_PROGRAM_H_
