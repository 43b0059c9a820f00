#include "pocl.h"

#include <dlfcn.h>

#include <cstdio>

namespace simgpu {
namespace {

constexpr char kPoclLibrary[] = "libpocl.so.2";

using GetExtensionFunctionAddressFn = void*(CL_API_CALL*)(const char*);
using IcdGetPlatformIdsFn = cl_int(CL_API_CALL*)(cl_uint, cl_platform_id*,
                                                 cl_uint*);
using IcdSetPlatformDispatchDataFn = cl_int(CL_API_CALL*)(cl_platform_id,
                                                          void*);

// PoCL 7 and later mark their objects' dispatch tables for loaders that
// dispatch themselves (cl_khr_icd 2.0): such a loader calls an object's
// functions through the dispatch data that it set on the object's platform.
// This driver loads PoCL without a loader and hands PoCL's buffers and
// events to the application as they are, so it sets that data itself:
// PoCL's own table.
void SetDispatchData(GetExtensionFunctionAddressFn get_address,
                     cl_platform_id platform, const cl_icd_dispatch& api) {
  auto set_dispatch_data = reinterpret_cast<IcdSetPlatformDispatchDataFn>(
      get_address("clIcdSetPlatformDispatchDataKHR"));
  if (set_dispatch_data != nullptr) {
    set_dispatch_data(platform, new cl_icd_dispatch(api));
  }
}

const Pocl* LoadPocl() {
  void* library = dlopen(kPoclLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "simgpu: cannot load %s: %s\n", kPoclLibrary,
                 dlerror());
    return nullptr;
  }
  auto get_address = reinterpret_cast<GetExtensionFunctionAddressFn>(
      dlsym(library, "clGetExtensionFunctionAddress"));
  auto get_platforms = get_address == nullptr
                           ? nullptr
                           : reinterpret_cast<IcdGetPlatformIdsFn>(
                                 get_address("clIcdGetPlatformIDsKHR"));
  cl_platform_id platform = nullptr;
  if (get_platforms == nullptr ||
      get_platforms(1, &platform, nullptr) != CL_SUCCESS) {
    std::fprintf(stderr, "simgpu: %s offers no platform\n", kPoclLibrary);
    return nullptr;
  }
  const cl_icd_dispatch* api = *reinterpret_cast<cl_icd_dispatch**>(platform);
  SetDispatchData(get_address, platform, *api);
  cl_device_id device = nullptr;
  if (api->clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr) !=
      CL_SUCCESS) {
    std::fprintf(stderr, "simgpu: %s offers no device\n", kPoclLibrary);
    return nullptr;
  }
  return new Pocl{api, platform, device};
}

}  // namespace

const Pocl* GetPocl() {
  static const Pocl* const pocl = LoadPocl();
  return pocl;
}

}  // namespace simgpu
