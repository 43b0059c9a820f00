#ifndef VRAMCHECK_KERNELS_DEVICE_PROGRAM_H_
#define VRAMCHECK_KERNELS_DEVICE_PROGRAM_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <CL/opencl.hpp>

namespace vramcheck {

// OpenCL C source of the device test program (device_program.cl), embedded at
// build time. It defines the test pattern and the kernels "Write" and "Read".
extern const std::string_view kDeviceProgram;

// What the host and the device program agree on; a test holds the source's
// macros and attributes to these values.

// One block of device memory under test: 128 MiB, 0.125 GiB, 0x800000
// elements of 16 bytes.
inline constexpr std::uint64_t kBlockSize = 0x8000000;
inline constexpr double kBlockGib = 0.125;

// Both kernels require work-groups of this many work-items along
// dimension 0 (reqd_work_group_size(64, 1, 1)).
inline constexpr std::size_t kWorkGroupSize = 64;

// How both kernels are launched over one block: one work-item per element,
// dimension 0 as wide as TEST_WINDOW_1D_MAX_GROUPS, from an explicit zero
// offset.
inline const cl::NDRange kLaunchOffset(0, 0, 0);
inline const cl::NDRange kLaunchGlobal(0x4000, 0x200, 1);
inline const cl::NDRange kLaunchLocal(kWorkGroupSize, 1, 1);

// Read's error counters: the number of wrong 32-bit words, then of wrong
// bits, each an unsigned 32-bit word.
inline constexpr std::uint64_t kCounterBytes = 8;

// The pattern parameter of pass `iteration`, wrapping at 32 bits.
constexpr std::uint32_t CalcParam(std::uint32_t iteration) {
  return iteration * 1048839u;
}

}  // namespace vramcheck

#endif  // VRAMCHECK_KERNELS_DEVICE_PROGRAM_H_
