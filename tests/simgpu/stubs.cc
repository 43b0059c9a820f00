// Fills the driver's dispatch table with stubs, so that no entry is ever
// NULL. Entries the driver implements are overwritten afterwards.

#include <tuple>
#include <type_traits>

#include "api.h"

namespace simgpu {
namespace {

// An entry the driver does not implement: it reports CL_INVALID_OPERATION,
// through errcode_ret (the last parameter) for entries returning an object.
template <typename Entry>
struct Stub;

template <typename R, typename... Args>
struct Stub<R(CL_API_CALL*)(Args...)> {
  static R CL_API_CALL Call([[maybe_unused]] Args... args) {
    if constexpr (std::is_same_v<R, cl_int>) {
      return CL_INVALID_OPERATION;
    } else if constexpr (std::is_void_v<R>) {
      return;
    } else {
      static_assert(std::is_pointer_v<R>);
      if constexpr (sizeof...(Args) > 0) {
        using Last =
            std::tuple_element_t<sizeof...(Args) - 1, std::tuple<Args...>>;
        if constexpr (std::is_same_v<Last, cl_int*>) {
          cl_int* errcode_ret =
              std::get<sizeof...(Args) - 1>(std::forward_as_tuple(args...));
          if (errcode_ret != nullptr) *errcode_ret = CL_INVALID_OPERATION;
        }
      }
      return nullptr;
    }
  }
};

template <typename Entry>
void SetStub(Entry& entry) {
  entry = &Stub<Entry>::Call;
}

// Entries of APIs absent on this system are untyped; nothing calls them.
void SetStub(void*& entry) {
  entry = reinterpret_cast<void*>(&Stub<cl_int(CL_API_CALL*)()>::Call);
}

}  // namespace

void FillWithStubs(cl_icd_dispatch& table) {
  static_assert(sizeof(cl_icd_dispatch) == 149 * sizeof(void*),
                "cl_icd_dispatch changed: update the list below");
  SetStub(table.clGetPlatformIDs);
  SetStub(table.clGetPlatformInfo);
  SetStub(table.clGetDeviceIDs);
  SetStub(table.clGetDeviceInfo);
  SetStub(table.clCreateContext);
  SetStub(table.clCreateContextFromType);
  SetStub(table.clRetainContext);
  SetStub(table.clReleaseContext);
  SetStub(table.clGetContextInfo);
  SetStub(table.clCreateCommandQueue);
  SetStub(table.clRetainCommandQueue);
  SetStub(table.clReleaseCommandQueue);
  SetStub(table.clGetCommandQueueInfo);
  SetStub(table.clSetCommandQueueProperty);
  SetStub(table.clCreateBuffer);
  SetStub(table.clCreateImage2D);
  SetStub(table.clCreateImage3D);
  SetStub(table.clRetainMemObject);
  SetStub(table.clReleaseMemObject);
  SetStub(table.clGetSupportedImageFormats);
  SetStub(table.clGetMemObjectInfo);
  SetStub(table.clGetImageInfo);
  SetStub(table.clCreateSampler);
  SetStub(table.clRetainSampler);
  SetStub(table.clReleaseSampler);
  SetStub(table.clGetSamplerInfo);
  SetStub(table.clCreateProgramWithSource);
  SetStub(table.clCreateProgramWithBinary);
  SetStub(table.clRetainProgram);
  SetStub(table.clReleaseProgram);
  SetStub(table.clBuildProgram);
  SetStub(table.clUnloadCompiler);
  SetStub(table.clGetProgramInfo);
  SetStub(table.clGetProgramBuildInfo);
  SetStub(table.clCreateKernel);
  SetStub(table.clCreateKernelsInProgram);
  SetStub(table.clRetainKernel);
  SetStub(table.clReleaseKernel);
  SetStub(table.clSetKernelArg);
  SetStub(table.clGetKernelInfo);
  SetStub(table.clGetKernelWorkGroupInfo);
  SetStub(table.clWaitForEvents);
  SetStub(table.clGetEventInfo);
  SetStub(table.clRetainEvent);
  SetStub(table.clReleaseEvent);
  SetStub(table.clGetEventProfilingInfo);
  SetStub(table.clFlush);
  SetStub(table.clFinish);
  SetStub(table.clEnqueueReadBuffer);
  SetStub(table.clEnqueueWriteBuffer);
  SetStub(table.clEnqueueCopyBuffer);
  SetStub(table.clEnqueueReadImage);
  SetStub(table.clEnqueueWriteImage);
  SetStub(table.clEnqueueCopyImage);
  SetStub(table.clEnqueueCopyImageToBuffer);
  SetStub(table.clEnqueueCopyBufferToImage);
  SetStub(table.clEnqueueMapBuffer);
  SetStub(table.clEnqueueMapImage);
  SetStub(table.clEnqueueUnmapMemObject);
  SetStub(table.clEnqueueNDRangeKernel);
  SetStub(table.clEnqueueTask);
  SetStub(table.clEnqueueNativeKernel);
  SetStub(table.clEnqueueMarker);
  SetStub(table.clEnqueueWaitForEvents);
  SetStub(table.clEnqueueBarrier);
  SetStub(table.clGetExtensionFunctionAddress);
  SetStub(table.clCreateFromGLBuffer);
  SetStub(table.clCreateFromGLTexture2D);
  SetStub(table.clCreateFromGLTexture3D);
  SetStub(table.clCreateFromGLRenderbuffer);
  SetStub(table.clGetGLObjectInfo);
  SetStub(table.clGetGLTextureInfo);
  SetStub(table.clEnqueueAcquireGLObjects);
  SetStub(table.clEnqueueReleaseGLObjects);
  SetStub(table.clGetGLContextInfoKHR);
  SetStub(table.clGetDeviceIDsFromD3D10KHR);
  SetStub(table.clCreateFromD3D10BufferKHR);
  SetStub(table.clCreateFromD3D10Texture2DKHR);
  SetStub(table.clCreateFromD3D10Texture3DKHR);
  SetStub(table.clEnqueueAcquireD3D10ObjectsKHR);
  SetStub(table.clEnqueueReleaseD3D10ObjectsKHR);
  SetStub(table.clSetEventCallback);
  SetStub(table.clCreateSubBuffer);
  SetStub(table.clSetMemObjectDestructorCallback);
  SetStub(table.clCreateUserEvent);
  SetStub(table.clSetUserEventStatus);
  SetStub(table.clEnqueueReadBufferRect);
  SetStub(table.clEnqueueWriteBufferRect);
  SetStub(table.clEnqueueCopyBufferRect);
  SetStub(table.clCreateSubDevicesEXT);
  SetStub(table.clRetainDeviceEXT);
  SetStub(table.clReleaseDeviceEXT);
  SetStub(table.clCreateEventFromGLsyncKHR);
  SetStub(table.clCreateSubDevices);
  SetStub(table.clRetainDevice);
  SetStub(table.clReleaseDevice);
  SetStub(table.clCreateImage);
  SetStub(table.clCreateProgramWithBuiltInKernels);
  SetStub(table.clCompileProgram);
  SetStub(table.clLinkProgram);
  SetStub(table.clUnloadPlatformCompiler);
  SetStub(table.clGetKernelArgInfo);
  SetStub(table.clEnqueueFillBuffer);
  SetStub(table.clEnqueueFillImage);
  SetStub(table.clEnqueueMigrateMemObjects);
  SetStub(table.clEnqueueMarkerWithWaitList);
  SetStub(table.clEnqueueBarrierWithWaitList);
  SetStub(table.clGetExtensionFunctionAddressForPlatform);
  SetStub(table.clCreateFromGLTexture);
  SetStub(table.clGetDeviceIDsFromD3D11KHR);
  SetStub(table.clCreateFromD3D11BufferKHR);
  SetStub(table.clCreateFromD3D11Texture2DKHR);
  SetStub(table.clCreateFromD3D11Texture3DKHR);
  SetStub(table.clCreateFromDX9MediaSurfaceKHR);
  SetStub(table.clEnqueueAcquireD3D11ObjectsKHR);
  SetStub(table.clEnqueueReleaseD3D11ObjectsKHR);
  SetStub(table.clGetDeviceIDsFromDX9MediaAdapterKHR);
  SetStub(table.clEnqueueAcquireDX9MediaSurfacesKHR);
  SetStub(table.clEnqueueReleaseDX9MediaSurfacesKHR);
  SetStub(table.clCreateFromEGLImageKHR);
  SetStub(table.clEnqueueAcquireEGLObjectsKHR);
  SetStub(table.clEnqueueReleaseEGLObjectsKHR);
  SetStub(table.clCreateEventFromEGLSyncKHR);
  SetStub(table.clCreateCommandQueueWithProperties);
  SetStub(table.clCreatePipe);
  SetStub(table.clGetPipeInfo);
  SetStub(table.clSVMAlloc);
  SetStub(table.clSVMFree);
  SetStub(table.clEnqueueSVMFree);
  SetStub(table.clEnqueueSVMMemcpy);
  SetStub(table.clEnqueueSVMMemFill);
  SetStub(table.clEnqueueSVMMap);
  SetStub(table.clEnqueueSVMUnmap);
  SetStub(table.clCreateSamplerWithProperties);
  SetStub(table.clSetKernelArgSVMPointer);
  SetStub(table.clSetKernelExecInfo);
  SetStub(table.clGetKernelSubGroupInfoKHR);
  SetStub(table.clCloneKernel);
  SetStub(table.clCreateProgramWithIL);
  SetStub(table.clEnqueueSVMMigrateMem);
  SetStub(table.clGetDeviceAndHostTimer);
  SetStub(table.clGetHostTimer);
  SetStub(table.clGetKernelSubGroupInfo);
  SetStub(table.clSetDefaultDeviceCommandQueue);
  SetStub(table.clSetProgramReleaseCallback);
  SetStub(table.clSetProgramSpecializationConstant);
  SetStub(table.clCreateBufferWithProperties);
  SetStub(table.clCreateImageWithProperties);
  SetStub(table.clSetContextDestructorCallback);
}

}  // namespace simgpu
