#ifndef TESTS_SIMGPU_POCL_H_
#define TESTS_SIMGPU_POCL_H_

#include <CL/cl_icd.h>

namespace simgpu {

// PoCL's platform and CPU device, which do the real work under every
// simulated device. PoCL is called through its own dispatch table.
struct Pocl {
  const cl_icd_dispatch* api;
  cl_platform_id platform;
  cl_device_id device;
};

// Loads PoCL on first use; nullptr when it cannot be loaded.
const Pocl* GetPocl();

// PoCL's dispatch table. Only for use once GetPocl() has succeeded, which
// every object of the driver implies.
inline const cl_icd_dispatch& PoclApi() { return *GetPocl()->api; }

}  // namespace simgpu

#endif  // TESTS_SIMGPU_POCL_H_
