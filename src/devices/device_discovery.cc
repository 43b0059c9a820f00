#include "devices/device_discovery.h"

#include <iostream>
#include <string>

#include "test_engine/memory_tester.h"

namespace vramcheck {
namespace {

// Both kernels run in work-groups of 64 work-items.
constexpr std::size_t kWorkGroupSize = 64;

// The device program counts errors with 32-bit atomic adds on global memory.
constexpr char kRequiredExtension[] = "cl_khr_global_int32_base_atomics";

bool IsTestable(const cl::Device& device) {
  return device.getInfo<CL_DEVICE_MAX_WORK_GROUP_SIZE>() >= kWorkGroupSize &&
         device.getInfo<CL_DEVICE_MAX_WORK_ITEM_SIZES>().at(0) >=
             kWorkGroupSize &&
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
