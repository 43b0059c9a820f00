// Programs and kernels.

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api.h"
#include "config.h"
#include "info.h"
#include "pocl.h"

namespace simgpu {
namespace {

using BuildNotify = void(CL_CALLBACK*)(cl_program, void*);

// Appended to program sources under SIMGPU_BREAK_BUILD, so builds fail.
constexpr char kBrokenLine[] = "\nthis line is not OpenCL C\n";

bool BuildBroken() {
  return NumberSetting("SIMGPU_BREAK_BUILD", 0,
                       std::numeric_limits<uint64_t>::max()) != 0;
}

// The status with which SIMGPU_REFUSE_CL_STD refuses builds asking for an
// OpenCL C version, as drivers without OpenCL C 2.0 may; CL_SUCCESS unless
// set.
cl_int ClStdRefusal(const char* options) {
  const std::optional<std::string> text = GetSetting("SIMGPU_REFUSE_CL_STD");
  if (!text || options == nullptr ||
      std::string_view(options).find("-cl-std=") == std::string_view::npos) {
    return CL_SUCCESS;
  }
  const std::optional<int32_t> status = ParseSigned(*text);
  if (!status || *status >= 0) {
    WarnMalformed("SIMGPU_REFUSE_CL_STD", *text);
    return CL_SUCCESS;
  }
  return *status;
}

// The options PoCL builds with: those given without "-cl-std=CL2.0". GPU
// drivers accept that option, but PoCL 6 refuses it for its CPU device. The
// programs run here use nothing of OpenCL C 2.0, and PoCL builds them in its
// default OpenCL C (1.2, on PoCL 3 to 7). ("-cl-std=CL1.2" builds them too,
// but after a failed build under it, LeakSanitizer crashes at the exit of a
// program built with it.)
std::string PoclBuildOptions(const char* options) {
  constexpr std::string_view kGpuStd = "-cl-std=CL2.0";
  std::string text = options == nullptr ? "" : options;
  for (size_t at = text.find(kGpuStd); at != std::string::npos;
       at = text.find(kGpuStd, at)) {
    text.erase(at, kGpuStd.size());
  }
  return text;
}

cl_program CL_API_CALL CreateProgramWithSource(cl_context context,
                                               cl_uint count,
                                               const char** strings,
                                               const size_t* lengths,
                                               cl_int* errcode_ret) {
  Context* own = Unwrap<Context>(context);
  if (own == nullptr) {
    SetStatus(errcode_ret, CL_INVALID_CONTEXT);
    return nullptr;
  }
  std::vector<const char*> sources;
  std::vector<size_t> sizes;  // 0: NUL-terminated.
  if (strings != nullptr && count > 0 && BuildBroken()) {
    sources.assign(strings, strings + count);
    sizes = lengths == nullptr ? std::vector<size_t>(count, 0)
                               : std::vector<size_t>(lengths, lengths + count);
    sources.push_back(kBrokenLine);
    sizes.push_back(0);
    count = static_cast<cl_uint>(sources.size());
    strings = sources.data();
    lengths = sizes.data();
  }
  cl_int status = CL_SUCCESS;
  cl_program pocl = PoclApi().clCreateProgramWithSource(
      own->pocl, count, strings, lengths, &status);
  SetStatus(errcode_ret, status);
  if (pocl == nullptr) return nullptr;
  LogEvent("create program");
  return Wrap(new Program(pocl, own));
}

// Builds synchronously; a notification callback runs before returning.
cl_int CL_API_CALL BuildProgram(cl_program program, cl_uint num_devices,
                                const cl_device_id* device_list,
                                const char* options, BuildNotify notify,
                                void* user_data) {
  const Program* own = Unwrap<Program>(program);
  if (own == nullptr) return CL_INVALID_PROGRAM;
  if ((num_devices == 0) != (device_list == nullptr) ||
      (notify == nullptr && user_data != nullptr)) {
    return CL_INVALID_VALUE;
  }
  for (cl_uint i = 0; i < num_devices; ++i) {
    if (own->context->Find(device_list[i]) == nullptr) {
      return CL_INVALID_DEVICE;
    }
  }
  cl_device_id pocl_device = GetPocl()->device;
  LogEvent(options == nullptr || *options == '\0'
               ? std::string("build program")
               : std::string("build program ") + options);
  if (const cl_int refusal = ClStdRefusal(options); refusal != CL_SUCCESS) {
    return refusal;
  }
  const cl_int status = PoclApi().clBuildProgram(
      own->pocl, num_devices > 0 ? 1 : 0,
      num_devices > 0 ? &pocl_device : nullptr,
      PoclBuildOptions(options).c_str(), nullptr, nullptr);
  if (notify != nullptr) notify(program, user_data);
  return status;
}

// A program is built for all devices of its context.
cl_int CL_API_CALL GetProgramInfo(cl_program program, cl_program_info param,
                                  size_t size, void* value, size_t* size_ret) {
  const Program* own = Unwrap<Program>(program);
  if (own == nullptr) return CL_INVALID_PROGRAM;
  const InfoOut out{size, value, size_ret};
  switch (param) {
    case CL_PROGRAM_REFERENCE_COUNT:
      return out.Scalar<cl_uint>(own->references);
    case CL_PROGRAM_CONTEXT:
      return out.Scalar(Wrap(own->context));
    case CL_PROGRAM_NUM_DEVICES:
      return out.Scalar(static_cast<cl_uint>(own->context->devices.size()));
    case CL_PROGRAM_DEVICES:
      return out.Array(Handles(own->context->devices));
    default:
      return PoclApi().clGetProgramInfo(own->pocl, param, size, value,
                                        size_ret);
  }
}

cl_int CL_API_CALL GetProgramBuildInfo(cl_program program, cl_device_id device,
                                       cl_program_build_info param, size_t size,
                                       void* value, size_t* size_ret) {
  const Program* own = Unwrap<Program>(program);
  if (own == nullptr) return CL_INVALID_PROGRAM;
  if (own->context->Find(device) == nullptr) return CL_INVALID_DEVICE;
  const cl_int status = PoclApi().clGetProgramBuildInfo(
      own->pocl, GetPocl()->device, param, size, value, size_ret);
  // PoCL refuses the log of a program never built; that log is empty.
  if (status == CL_INVALID_PROGRAM && param == CL_PROGRAM_BUILD_LOG) {
    return InfoOut{size, value, size_ret}.Text("");
  }
  return status;
}

cl_kernel CL_API_CALL CreateKernel(cl_program program, const char* name,
                                   cl_int* errcode_ret) {
  Program* own = Unwrap<Program>(program);
  if (own == nullptr) {
    SetStatus(errcode_ret, CL_INVALID_PROGRAM);
    return nullptr;
  }
  cl_int status = CL_SUCCESS;
  cl_kernel pocl = PoclApi().clCreateKernel(own->pocl, name, &status);
  SetStatus(errcode_ret, status);
  if (pocl == nullptr) return nullptr;
  auto* kernel = new Kernel(pocl, own, name);
  LogEvent("create kernel " + kernel->name);
  return Wrap(kernel);
}

// Logs the 32-bit scalar arguments, which carry the pass's parameters.
cl_int CL_API_CALL SetKernelArg(cl_kernel kernel, cl_uint index, size_t size,
                                const void* value) {
  const Kernel* own = Unwrap<Kernel>(kernel);
  if (own == nullptr) return CL_INVALID_KERNEL;
  const cl_int status = PoclApi().clSetKernelArg(own->pocl, index, size, value);
  if (status == CL_SUCCESS && size == sizeof(cl_uint) && value != nullptr) {
    LogEvent("arg " + own->name + " " + std::to_string(index) + " " +
             std::to_string(*static_cast<const cl_uint*>(value)));
  }
  return status;
}

cl_int CL_API_CALL GetKernelInfo(cl_kernel kernel, cl_kernel_info param,
                                 size_t size, void* value, size_t* size_ret) {
  const Kernel* own = Unwrap<Kernel>(kernel);
  if (own == nullptr) return CL_INVALID_KERNEL;
  const InfoOut out{size, value, size_ret};
  switch (param) {
    case CL_KERNEL_REFERENCE_COUNT:
      return out.Scalar<cl_uint>(own->references);
    case CL_KERNEL_CONTEXT:
      return out.Scalar(Wrap(own->program->context));
    case CL_KERNEL_PROGRAM:
      return out.Scalar(Wrap(own->program));
    default:
      return PoclApi().clGetKernelInfo(own->pocl, param, size, value, size_ret);
  }
}

// A NULL device stands for the context's only device, as in OpenCL.
cl_int CL_API_CALL GetKernelWorkGroupInfo(cl_kernel kernel, cl_device_id device,
                                          cl_kernel_work_group_info param,
                                          size_t size, void* value,
                                          size_t* size_ret) {
  const Kernel* own = Unwrap<Kernel>(kernel);
  if (own == nullptr) return CL_INVALID_KERNEL;
  const Context& context = *own->program->context;
  if (device == nullptr ? context.devices.size() != 1
                        : context.Find(device) == nullptr) {
    return CL_INVALID_DEVICE;
  }
  return PoclApi().clGetKernelWorkGroupInfo(own->pocl, GetPocl()->device, param,
                                            size, value, size_ret);
}

}  // namespace

Program::Program(cl_program pocl_program, Context* owner)
    : Counted(kKind), pocl(pocl_program), context(owner) {
  Retain(context);
}

Kernel::Kernel(cl_kernel pocl_kernel, Program* owner, std::string kernel_name)
    : Counted(kKind),
      pocl(pocl_kernel),
      program(owner),
      name(std::move(kernel_name)) {
  Retain(program);
}

void Destroy(Program* program) {
  PoclApi().clReleaseProgram(program->pocl);
  Release(program->context);
  delete program;
}

void Destroy(Kernel* kernel) {
  PoclApi().clReleaseKernel(kernel->pocl);
  Release(kernel->program);
  delete kernel;
}

void InstallProgramApi(cl_icd_dispatch& table) {
  table.clCreateProgramWithSource = CreateProgramWithSource;
  table.clRetainProgram = RetainHandle<Program, CL_INVALID_PROGRAM>;
  table.clReleaseProgram = ReleaseHandle<Program, CL_INVALID_PROGRAM>;
  table.clBuildProgram = BuildProgram;
  table.clGetProgramInfo = GetProgramInfo;
  table.clGetProgramBuildInfo = GetProgramBuildInfo;
  table.clCreateKernel = CreateKernel;
  table.clRetainKernel = RetainHandle<Kernel, CL_INVALID_KERNEL>;
  table.clReleaseKernel = ReleaseHandle<Kernel, CL_INVALID_KERNEL>;
  table.clSetKernelArg = SetKernelArg;
  table.clGetKernelInfo = GetKernelInfo;
  table.clGetKernelWorkGroupInfo = GetKernelWorkGroupInfo;
}

}  // namespace simgpu
