#ifndef TESTS_SIMGPU_FAULTS_H_
#define TESTS_SIMGPU_FAULTS_H_

#include <CL/cl.h>

#include "objects.h"

namespace simgpu {

// Applies the configured faults to the queue's context before a launch of
// "Read": SIMGPU_BIT_FAULTS and the queue's device's
// SIMGPU_DEVICE<n>_BIT_FAULTS once after each launch of "Write", then
// SIMGPU_STUCK_FAULTS.
cl_int InjectFaultsBeforeRead(Queue& queue);

}  // namespace simgpu

#endif  // TESTS_SIMGPU_FAULTS_H_
