// Contexts and the buffers created in them.

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

#include "api.h"
#include "config.h"
#include "info.h"
#include "memory.h"
#include "pocl.h"

namespace simgpu {
namespace {

using ContextNotify = void(CL_CALLBACK*)(const char*, const void*, size_t,
                                         void*);

// The caller's context properties, with CL_CONTEXT_PLATFORM translated for
// PoCL, and the platform it names, if any.
struct Properties {
  std::vector<cl_context_properties> own;
  std::vector<cl_context_properties> pocl;
  Platform* platform = nullptr;
};

cl_int TranslateProperties(const cl_context_properties* properties,
                           Properties& translated) {
  if (properties == nullptr) return CL_SUCCESS;
  for (const cl_context_properties* p = properties; *p != 0; p += 2) {
    cl_context_properties value = p[1];
    if (p[0] == CL_CONTEXT_PLATFORM) {
      translated.platform =
          Unwrap<Platform>(reinterpret_cast<cl_platform_id>(value));
      if (translated.platform == nullptr) return CL_INVALID_PLATFORM;
      value = reinterpret_cast<cl_context_properties>(GetPocl()->platform);
    }
    translated.own.insert(translated.own.end(), {p[0], p[1]});
    translated.pocl.insert(translated.pocl.end(), {p[0], value});
  }
  translated.own.push_back(0);
  translated.pocl.push_back(0);
  return CL_SUCCESS;
}

// The distinct devices behind `handles`, all of one platform (`platform`
// when given).
cl_int TranslateDevices(std::span<const cl_device_id> handles,
                        const Platform* platform,
                        std::vector<Device*>& devices) {
  for (cl_device_id handle : handles) {
    Device* device = Unwrap<Device>(handle);
    if (device == nullptr) return CL_INVALID_DEVICE;
    if (platform == nullptr) platform = device->platform;
    if (device->platform != platform) return CL_INVALID_DEVICE;
    if (std::find(devices.begin(), devices.end(), device) == devices.end()) {
      devices.push_back(device);
    }
  }
  return CL_SUCCESS;
}

// All simulated devices run on PoCL's one device.
cl_context NewContext(const Properties& properties,
                      std::vector<Device*> devices, ContextNotify notify,
                      void* user_data, cl_int* errcode_ret) {
  cl_device_id pocl_device = GetPocl()->device;
  cl_int status = CL_SUCCESS;
  cl_context pocl = PoclApi().clCreateContext(
      properties.pocl.empty() ? nullptr : properties.pocl.data(), 1,
      &pocl_device, notify, user_data, &status);
  if (pocl == nullptr) {
    SetStatus(errcode_ret, status);
    return nullptr;
  }
  auto* context = new Context(pocl, std::move(devices), properties.own);
  LogEvent("create context");
  SetStatus(errcode_ret, CL_SUCCESS);
  return Wrap(context);
}

cl_context CL_API_CALL CreateContext(const cl_context_properties* properties,
                                     cl_uint num_devices,
                                     const cl_device_id* devices,
                                     ContextNotify notify, void* user_data,
                                     cl_int* errcode_ret) {
  if (devices == nullptr || num_devices == 0) {
    SetStatus(errcode_ret, CL_INVALID_VALUE);
    return nullptr;
  }
  Properties translated;
  std::vector<Device*> own_devices;
  cl_int status = TranslateProperties(properties, translated);
  if (status == CL_SUCCESS) {
    status = TranslateDevices({devices, num_devices}, translated.platform,
                              own_devices);
  }
  if (status != CL_SUCCESS) {
    SetStatus(errcode_ret, status);
    return nullptr;
  }
  return NewContext(translated, std::move(own_devices), notify, user_data,
                    errcode_ret);
}

// Without CL_CONTEXT_PLATFORM the first platform is used.
cl_context CL_API_CALL CreateContextFromType(
    const cl_context_properties* properties, cl_device_type type,
    ContextNotify notify, void* user_data, cl_int* errcode_ret) {
  Properties translated;
  std::vector<Device*> devices;
  cl_int status = TranslateProperties(properties, translated);
  if (status == CL_SUCCESS) {
    const Platform* platform = translated.platform != nullptr
                                   ? translated.platform
                                   : Platforms().front();
    status = MatchingDevices(*platform, type, devices);
  }
  if (status != CL_SUCCESS) {
    SetStatus(errcode_ret, status);
    return nullptr;
  }
  return NewContext(translated, std::move(devices), notify, user_data,
                    errcode_ret);
}

cl_int CL_API_CALL GetContextInfo(cl_context context, cl_context_info param,
                                  size_t size, void* value, size_t* size_ret) {
  const Context* own = Unwrap<Context>(context);
  if (own == nullptr) return CL_INVALID_CONTEXT;
  const InfoOut out{size, value, size_ret};
  switch (param) {
    case CL_CONTEXT_REFERENCE_COUNT:
      return out.Scalar<cl_uint>(own->references);
    case CL_CONTEXT_NUM_DEVICES:
      return out.Scalar(static_cast<cl_uint>(own->devices.size()));
    case CL_CONTEXT_DEVICES:
      return out.Array(Handles(own->devices));
    case CL_CONTEXT_PROPERTIES:
      return out.Array(own->properties);
    default:
      return PoclApi().clGetContextInfo(own->pocl, param, size, value,
                                        size_ret);
  }
}

cl_mem CL_API_CALL CreateBuffer(cl_context context, cl_mem_flags flags,
                                size_t size, void* host_ptr,
                                cl_int* errcode_ret) {
  Context* own = Unwrap<Context>(context);
  if (own == nullptr) {
    SetStatus(errcode_ret, CL_INVALID_CONTEXT);
    return nullptr;
  }
  return CreateBuffer(*own, flags, size, host_ptr, errcode_ret);
}

}  // namespace

Context::Context(cl_context pocl_context, std::vector<Device*> context_devices,
                 std::vector<cl_context_properties> context_properties)
    : Counted(kKind),
      pocl(pocl_context),
      devices(std::move(context_devices)),
      properties(std::move(context_properties)),
      blocks(std::make_shared<Blocks>()) {}

Device* Context::Find(cl_device_id handle) const {
  Device* device = Unwrap<Device>(handle);
  const bool member =
      std::find(devices.begin(), devices.end(), device) != devices.end();
  return device != nullptr && member ? device : nullptr;
}

void Destroy(Context* context) {
  PoclApi().clReleaseContext(context->pocl);
  delete context;
}

void InstallContextApi(cl_icd_dispatch& table) {
  table.clCreateContext = CreateContext;
  table.clCreateContextFromType = CreateContextFromType;
  table.clRetainContext = RetainHandle<Context, CL_INVALID_CONTEXT>;
  table.clReleaseContext = ReleaseHandle<Context, CL_INVALID_CONTEXT>;
  table.clGetContextInfo = GetContextInfo;
  table.clCreateBuffer = CreateBuffer;
}

}  // namespace simgpu
