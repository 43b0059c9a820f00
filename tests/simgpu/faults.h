#ifndef TESTS_SIMGPU_FAULTS_H_
#define TESTS_SIMGPU_FAULTS_H_

#include <cstdint>
#include <string>

#include <CL/cl.h>

#include "objects.h"

namespace simgpu {

// Applies the configured faults to the queue's context before a launch of
// "Read": SIMGPU_BIT_FAULTS and the queue's device's
// SIMGPU_DEVICE<n>_BIT_FAULTS once after each launch of "Write", then
// SIMGPU_STUCK_FAULTS.
cl_int InjectFaultsBeforeRead(Queue& queue);

enum class LaunchFault { kNone, kFail, kHang };

// What SIMGPU_FAIL_LAUNCH and SIMGPU_HANG_LAUNCH, and the same settings of
// device number `device`, do to the `count`-th (from 1) launch of `kernel`
// on a queue of that device. Failing takes precedence over hanging.
LaunchFault ConfiguredLaunchFault(int device, const std::string& kernel,
                                  uint64_t count);

}  // namespace simgpu

#endif  // TESTS_SIMGPU_FAULTS_H_
