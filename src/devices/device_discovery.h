#ifndef VRAMCHECK_DEVICES_DEVICE_DISCOVERY_H_
#define VRAMCHECK_DEVICES_DEVICE_DISCOVERY_H_

#include <vector>

#include <CL/opencl.hpp>

namespace vramcheck {

// Empties `devices`, then appends every GPU device of every platform that can
// run the memory test, platforms in the loader's order and devices in each
// platform's order. A device qualifies when, checked in this order and each
// parameter queried only if the previous check passed:
//   1. its maximum work-group size is at least 64,
//   2. the first of its maximum work-item sizes is at least 64,
//   3. it can allocate one 128 MiB block,
//   4. it is available,
//   5. its compiler is available,
//   6. its extensions mention "cl_khr_global_int32_base_atomics".
// Throws cl::Error when an OpenCL query fails (clGetPlatformIDs when no
// platform is installed) and std::out_of_range for an empty list of
// work-item sizes; `devices` then holds what was found before.
void FindTestableDevices(std::vector<cl::Device>& devices);

// Writes "Device Number: Device Name", then "<index>: <name>" for every
// device, to standard output, each line flushed.
void PrintDeviceList(const std::vector<cl::Device>& devices);

}  // namespace vramcheck

#endif  // VRAMCHECK_DEVICES_DEVICE_DISCOVERY_H_
