#ifndef TESTS_SIMGPU_DEVICE_CONFIG_H_
#define TESTS_SIMGPU_DEVICE_CONFIG_H_

#include <array>
#include <compare>
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
  kPciBus,
  kUuid,
};

// The key that configures `param`, if one does.
std::optional<DeviceKey> ConfiguredKey(cl_device_info param);

// Answers the query of `key` on device number `device` from the environment,
// and logs the query.
cl_int ConfiguredDeviceInfo(int device, DeviceKey key, const InfoOut& out);

// How the profiling clock of a device shows its launches.
struct ProfilingClock {
  // END is START plus this many times the time PoCL measured.
  uint64_t slowdown = 1;
  // When set, every launch's START and END, as from a broken clock.
  std::optional<std::array<cl_ulong, 2>> stuck;

  auto operator<=>(const ProfilingClock&) const = default;
};

// The clock that SIMGPU_DEVICE<n>_SLOWDOWN and SIMGPU_DEVICE<n>_STUCK_CLOCK
// set for device number `device`'s launches: PoCL's own when both are unset.
ProfilingClock ConfiguredClock(int device);

}  // namespace simgpu

#endif  // TESTS_SIMGPU_DEVICE_CONFIG_H_
