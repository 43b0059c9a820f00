// Platforms and devices: the simulated topology and its info queries.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "api.h"
#include "config.h"
#include "device_config.h"
#include "info.h"
#include "pocl.h"

namespace simgpu {
namespace {

constexpr char kPlatformsVariable[] = "SIMGPU_PLATFORMS";
constexpr uint64_t kMaxDevicesPerPlatform = 256;

// SIMGPU_PLATFORMS: the number of devices of each platform, e.g. "2,1".
std::vector<cl_uint> DeviceCounts() {
  const std::optional<std::string> text = GetSetting(kPlatformsVariable);
  if (!text) return {1};
  std::vector<cl_uint> counts;
  for (std::string_view field : Split(*text, ',')) {
    const std::optional<uint64_t> count = ParseNumber(field);
    if (!count || *count > kMaxDevicesPerPlatform) {
      WarnMalformed(kPlatformsVariable, *text);
      return {1};
    }
    counts.push_back(static_cast<cl_uint>(*count));
  }
  return counts;
}

std::vector<Platform*> LayOutPlatforms() {
  if (GetPocl() == nullptr) return {};
  std::vector<Platform*> platforms;
  int next_device = 0;
  for (cl_uint count : DeviceCounts()) {
    auto* platform = new Platform;
    for (cl_uint i = 0; i < count; ++i) {
      platform->devices.push_back(new Device(platform, next_device++));
    }
    platforms.push_back(platform);
  }
  return platforms;
}

// Hands out up to `num_entries` handles, as clGet*IDs do.
template <typename T>
void ListHandles(const std::vector<T*>& objects, cl_uint num_entries,
                 typename T::Handle* handles, cl_uint* num_handles) {
  if (handles != nullptr) {
    const size_t count = std::min<size_t>(num_entries, objects.size());
    for (size_t i = 0; i < count; ++i) handles[i] = Wrap(objects[i]);
  }
  if (num_handles != nullptr) {
    *num_handles = static_cast<cl_uint>(objects.size());
  }
}

cl_int CL_API_CALL GetDeviceIDs(cl_platform_id platform, cl_device_type type,
                                cl_uint num_entries, cl_device_id* devices,
                                cl_uint* num_devices) {
  const Platform* own = Unwrap<Platform>(platform);
  if (own == nullptr) return CL_INVALID_PLATFORM;
  if ((num_entries == 0 && devices != nullptr) ||
      (devices == nullptr && num_devices == nullptr)) {
    return CL_INVALID_VALUE;
  }
  std::vector<Device*> found;
  const cl_int status = MatchingDevices(*own, type, found);
  if (status == CL_DEVICE_NOT_FOUND && num_devices != nullptr) {
    *num_devices = 0;
  }
  if (status != CL_SUCCESS) return status;
  ListHandles(found, num_entries, devices, num_devices);
  return CL_SUCCESS;
}

cl_int CL_API_CALL GetDeviceInfo(cl_device_id device, cl_device_info param,
                                 size_t size, void* value, size_t* size_ret) {
  const Device* own = Unwrap<Device>(device);
  if (own == nullptr) return CL_INVALID_DEVICE;
  const InfoOut out{size, value, size_ret};
  if (const std::optional<DeviceKey> key = ConfiguredKey(param)) {
    return ConfiguredDeviceInfo(own->index, *key, out);
  }
  switch (param) {
    case CL_DEVICE_TYPE:
      return out.Scalar<cl_device_type>(CL_DEVICE_TYPE_GPU);
    case CL_DEVICE_PLATFORM:
      return out.Scalar(Wrap(own->platform));
    case CL_DEVICE_PARENT_DEVICE:
      return out.Scalar<cl_device_id>(nullptr);
    default:
      return PoclApi().clGetDeviceInfo(GetPocl()->device, param, size, value,
                                       size_ret);
  }
}

// Simulated devices are root devices: they are not reference counted.
cl_int CL_API_CALL RetainOrReleaseDevice(cl_device_id device) {
  return Unwrap<Device>(device) == nullptr ? CL_INVALID_DEVICE : CL_SUCCESS;
}

}  // namespace

const std::vector<Platform*>& Platforms() {
  static const auto* const platforms =
      new std::vector<Platform*>(LayOutPlatforms());
  return *platforms;
}

cl_int CL_API_CALL GetPlatformIDs(cl_uint num_entries,
                                  cl_platform_id* platforms,
                                  cl_uint* num_platforms) {
  if ((num_entries == 0 && platforms != nullptr) ||
      (platforms == nullptr && num_platforms == nullptr)) {
    return CL_INVALID_VALUE;
  }
  if (Platforms().empty()) {
    if (num_platforms != nullptr) *num_platforms = 0;
    return CL_PLATFORM_NOT_FOUND_KHR;
  }
  ListHandles(Platforms(), num_entries, platforms, num_platforms);
  return CL_SUCCESS;
}

cl_int CL_API_CALL GetPlatformInfo(cl_platform_id platform,
                                   cl_platform_info param, size_t size,
                                   void* value, size_t* size_ret) {
  if (Unwrap<Platform>(platform) == nullptr) return CL_INVALID_PLATFORM;
  const InfoOut out{size, value, size_ret};
  switch (param) {
    case CL_PLATFORM_NAME:
      return out.Text("Simulated GPU Platform");
    case CL_PLATFORM_VENDOR:
      return out.Text("vramcheck tests");
    case CL_PLATFORM_ICD_SUFFIX_KHR:
      return out.Text("SIMGPU");
    case CL_PLATFORM_EXTENSIONS:
      return out.Text("cl_khr_icd");
    default:
      return PoclApi().clGetPlatformInfo(GetPocl()->platform, param, size,
                                         value, size_ret);
  }
}

cl_int MatchingDevices(const Platform& platform, cl_device_type type,
                       std::vector<Device*>& found) {
  constexpr cl_device_type kKnownTypes =
      CL_DEVICE_TYPE_DEFAULT | CL_DEVICE_TYPE_CPU | CL_DEVICE_TYPE_GPU |
      CL_DEVICE_TYPE_ACCELERATOR | CL_DEVICE_TYPE_CUSTOM;
  if (type == 0 || (type != CL_DEVICE_TYPE_ALL && (type & ~kKnownTypes) != 0)) {
    return CL_INVALID_DEVICE_TYPE;
  }
  found.clear();
  if ((type & CL_DEVICE_TYPE_GPU) != 0) {
    found = platform.devices;
  } else if ((type & CL_DEVICE_TYPE_DEFAULT) != 0 &&
             !platform.devices.empty()) {
    found.push_back(platform.devices.front());
  }
  return found.empty() ? CL_DEVICE_NOT_FOUND : CL_SUCCESS;
}

void InstallPlatformApi(cl_icd_dispatch& table) {
  table.clGetPlatformIDs = GetPlatformIDs;
  table.clGetPlatformInfo = GetPlatformInfo;
  table.clGetDeviceIDs = GetDeviceIDs;
  table.clGetDeviceInfo = GetDeviceInfo;
  table.clRetainDevice = RetainOrReleaseDevice;
  table.clReleaseDevice = RetainOrReleaseDevice;
}

}  // namespace simgpu
