#ifndef TESTS_SIMGPU_DEVICE_CONFIG_H_
#define TESTS_SIMGPU_DEVICE_CONFIG_H_

#include <cstdint>
#include <optional>

#include <CL/cl.h>

#include "info.h"

namespace simgpu {

// The device parameters set by SIMGPU_DEVICE<n>_<KEY> variables.
enum class DeviceKey {
  kName,
  kMaxWorkGroupSize,
  kMaxWorkItemSizes,
  kMaxMemAllocSize,
  kAvailable,
  kCompilerAvailable,
  kExtensions,
  kGlobalMemSize,
};

// The key that configures `param`, if one does.
std::optional<DeviceKey> ConfiguredKey(cl_device_info param);

// Answers the query of `key` on device number `device` from the environment,
// and logs the query.
cl_int ConfiguredDeviceInfo(int device, DeviceKey key, const InfoOut& out);

// The factor SIMGPU_DEVICE<n>_SLOWDOWN sets on the profiled time of device
// number `device`'s launches: 1 when unset.
uint64_t ConfiguredSlowdown(int device);

}  // namespace simgpu

#endif  // TESTS_SIMGPU_DEVICE_CONFIG_H_
