#include "devices/device_discovery.h"

#include <iostream>
#include <stdexcept>
#include <string>

#include "kernels/device_program.h"

namespace vramcheck {
namespace {

// The device program counts errors with 32-bit atomic adds on global memory.
constexpr char kRequiredExtension[] = "cl_khr_global_int32_base_atomics";

// The first of the device's maximum work-item sizes, for dimension 0.
std::size_t MaxWorkItemSize0(const cl::Device& device) {
  const std::vector<std::size_t> sizes =
      device.getInfo<CL_DEVICE_MAX_WORK_ITEM_SIZES>();
  if (sizes.empty()) {
    throw std::out_of_range("a device reported no maximum work-item sizes");
  }
  return sizes[0];
}

bool IsTestable(const cl::Device& device) {
  return device.getInfo<CL_DEVICE_MAX_WORK_GROUP_SIZE>() >= kWorkGroupSize &&
         MaxWorkItemSize0(device) >= kWorkGroupSize &&
         device.getInfo<CL_DEVICE_MAX_MEM_ALLOC_SIZE>() >= kBlockSize &&
         device.getInfo<CL_DEVICE_AVAILABLE>() != CL_FALSE &&
         device.getInfo<CL_DEVICE_COMPILER_AVAILABLE>() != CL_FALSE &&
         device.getInfo<CL_DEVICE_EXTENSIONS>().find(kRequiredExtension) !=
             std::string::npos;
}

}  // namespace

void FindTestableDevices(std::vector<cl::Device>& devices) {
  devices.clear();
  std::vector<cl::Platform> platforms;
  cl::Platform::get(&platforms);
  for (const cl::Platform& platform : platforms) {
    std::vector<cl::Device> gpus;
    platform.getDevices(CL_DEVICE_TYPE_GPU, &gpus);
    for (const cl::Device& device : gpus) {
      if (IsTestable(device)) devices.push_back(device);
    }
  }
}

void PrintDeviceList(const std::vector<cl::Device>& devices) {
  std::cout << "Device Number: Device Name" << std::endl;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    std::cout << i << ": ";
    std::cout << devices[i].getInfo<CL_DEVICE_NAME>() << std::endl;
  }
}

}  // namespace vramcheck
