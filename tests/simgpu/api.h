#ifndef TESTS_SIMGPU_API_H_
#define TESTS_SIMGPU_API_H_

#include <vector>

#include <CL/cl_icd.h>

#include "objects.h"

namespace simgpu {

// The parts of the driver's dispatch table, each filled in by the file that
// implements those entries.
void FillWithStubs(cl_icd_dispatch& table);
void InstallPlatformApi(cl_icd_dispatch& table);
void InstallContextApi(cl_icd_dispatch& table);
void InstallQueueApi(cl_icd_dispatch& table);
void InstallProgramApi(cl_icd_dispatch& table);

// The simulated platforms, laid out from SIMGPU_PLATFORMS on first use; empty
// when PoCL is unavailable.
const std::vector<Platform*>& Platforms();

cl_int CL_API_CALL GetPlatformIDs(cl_uint num_entries,
                                  cl_platform_id* platforms,
                                  cl_uint* num_platforms);

cl_int CL_API_CALL GetPlatformInfo(cl_platform_id platform,
                                   cl_platform_info param, size_t size,
                                   void* value, size_t* size_ret);

// The devices of `platform` that a request for `type` finds.
cl_int MatchingDevices(const Platform& platform, cl_device_type type,
                       std::vector<Device*>& found);

}  // namespace simgpu

#endif  // TESTS_SIMGPU_API_H_
