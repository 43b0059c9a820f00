#include "bench/kernel_timing.h"

#include <string>

#include <fmt/format.h>

#include "kernels/device_program.h"
#include "test_engine/memory_tester.h"

namespace vramcheck::bench {
namespace {

// Write and Read run with the pattern of the tester's first pass.
constexpr cl_uint kIteration = 1;
constexpr cl_uint kCalcParam = CalcParam(kIteration);

// The plain store's value; the loads compare with its complement, a branch
// that never fires but keeps the load from being dropped.
constexpr cl_uint kStoreValue = 0x5a5a5a5a;

// The ceilings, appended to the device program so that they index the
// block with its own macros.
constexpr char kCeilingKernels[] = R"CLC(
#define GROUP __attribute__((reqd_work_group_size(WORK_GROUP_SIZE, 1, 1)))
#define LAUNCH_ID (get_global_id(0) + get_global_id(1) * TEST_WINDOW_1D_MAX_GROUPS)

__kernel GROUP void PlainStore(global uint4* dst, uint value) {
  dst[LAUNCH_ID] = (uint4)(value);
}

__kernel GROUP void PlainLoad(global uint4* src, volatile global uint* sink,
                              uint value) {
  if (any(src[LAUNCH_ID] != (uint4)(value))) sink[0] = 1;
}

// Loads the element Read would, without checking the pattern.
__kernel GROUP void PermutedLoad(global uint4* src, volatile global uint* sink,
                                 uint value, uint calc_param, uint iter) {
  uint id = LAUNCH_ID;
  uint granule = TEST_WINDOW_READ_ADDR_ROTATION_GRANULARITY;
  uint position = (11 * id + 999 * iter + calc_param + 7 * (id / granule)) %
                  granule;
  if (any(src[id - id % granule + position] != (uint4)(value))) sink[0] = 1;
}
)CLC";

}  // namespace

KernelTiming::KernelTiming(const cl::Device& device)
    : context_(device),
      queue_(context_, device, CL_QUEUE_PROFILING_ENABLE),
      block_(context_, CL_MEM_READ_WRITE, kBlockSize),
      counters_(context_, CL_MEM_READ_WRITE, 2 * sizeof(cl_uint)),
      sink_(context_, CL_MEM_READ_WRITE, sizeof(cl_uint)) {
  // Built as the tester builds its program.
  const cl::Program program(
      context_,
      std::string(kDeviceProgram) +
          fmt::format("#define WORK_GROUP_SIZE {}\n", kWorkGroupSize) +
          kCeilingKernels,
      /*build=*/true);
  for (int c = 0; c < kCaseCount; ++c) {
    kernels_[c] = cl::Kernel(program, kCaseNames[c].kernel);
  }
  const cl_uint zeros[2] = {0, 0};
  queue_.enqueueWriteBuffer(counters_, CL_TRUE, 0, sizeof(zeros), zeros);
  queue_.enqueueWriteBuffer(sink_, CL_TRUE, 0, sizeof(cl_uint), zeros);

  kernels_[kWrite].setArg(0, block_);
  kernels_[kWrite].setArg(1, kCalcParam);
  kernels_[kRead].setArg(0, counters_);
  kernels_[kRead].setArg(1, block_);
  kernels_[kRead].setArg(2, kCalcParam);
  kernels_[kRead].setArg(3, kIteration);
  kernels_[kPlainStore].setArg(0, block_);
  kernels_[kPlainStore].setArg(1, kStoreValue);
  for (Case load : {kPlainLoad, kPermutedLoad}) {
    kernels_[load].setArg(0, block_);
    kernels_[load].setArg(1, sink_);
    kernels_[load].setArg(2, kStoreValue);
  }
  kernels_[kPermutedLoad].setArg(3, kCalcParam);
  kernels_[kPermutedLoad].setArg(4, kIteration);
}

RoundTimes KernelTiming::RunRound() {
  RoundTimes times;
  for (int c = 0; c < kCaseCount; ++c) {
    times[c] = static_cast<std::int64_t>(TimedLaunchNs(queue_, kernels_[c]));
  }
  return times;
}

bool KernelTiming::Clean() {
  cl_uint values[3] = {1, 1, 1};
  queue_.enqueueReadBuffer(counters_, CL_TRUE, 0, 2 * sizeof(cl_uint), values);
  queue_.enqueueReadBuffer(sink_, CL_TRUE, 0, sizeof(cl_uint), values + 2);
  return values[0] == 0 && values[1] == 0 && values[2] == 0;
}

}  // namespace vramcheck::bench
