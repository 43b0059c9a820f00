// The driver's entry points for the ICD loader and its dispatch table.

#include <cstring>

#include "api.h"

namespace simgpu {
namespace {

// The loader looks up the two entries it needs here when the driver does
// not export them.
void* CL_API_CALL GetExtensionFunctionAddress(const char* name) {
  if (name == nullptr) return nullptr;
  if (std::strcmp(name, "clIcdGetPlatformIDsKHR") == 0) {
    return reinterpret_cast<void*>(&GetPlatformIDs);
  }
  if (std::strcmp(name, "clGetPlatformInfo") == 0) {
    return reinterpret_cast<void*>(&GetPlatformInfo);
  }
  return nullptr;
}

}  // namespace

cl_icd_dispatch* Dispatch() {
  static cl_icd_dispatch* const table = [] {
    auto* filled = new cl_icd_dispatch;
    FillWithStubs(*filled);
    InstallPlatformApi(*filled);
    InstallContextApi(*filled);
    InstallQueueApi(*filled);
    InstallProgramApi(*filled);
    filled->clGetExtensionFunctionAddress = GetExtensionFunctionAddress;
    return filled;
  }();
  return table;
}

}  // namespace simgpu

// The exported entry points. The driver refers to its own functions only by
// their internal names, which the same names in the loader cannot interpose.
#define SIMGPU_EXPORT __attribute__((visibility("default")))

extern "C" {

SIMGPU_EXPORT cl_int CL_API_CALL clIcdGetPlatformIDsKHR(
    cl_uint num_entries, cl_platform_id* platforms, cl_uint* num_platforms) {
  return simgpu::GetPlatformIDs(num_entries, platforms, num_platforms);
}

SIMGPU_EXPORT void* CL_API_CALL
clGetExtensionFunctionAddress(const char* name) {
  return simgpu::GetExtensionFunctionAddress(name);
}

}  // extern "C"
