#include "app/error_message.h"

#include <algorithm>
#include <new>
#include <string_view>

#include <fmt/format.h>

namespace vramcheck {
namespace {

// Calls whose shortage of device memory fewer blocks can relieve: allocating
// a block, and launching or mapping, where drivers that allocate lazily
// report it.
bool UsesBlockMemory(std::string_view call) {
  return call == "clCreateBuffer" || call == "clEnqueueNDRangeKernel" ||
         call == "clEnqueueMapBuffer";
}

// The program's one build option, which drivers without OpenCL C 2.0 may
// refuse.
constexpr char kBuildOptionHint[] =
    ": the OpenCL driver refuses the build option -cl-std=CL2.0";

std::string Hint(cl_int status, std::string_view call) {
  switch (status) {
    case CL_PLATFORM_NOT_FOUND_KHR:
      return ": no OpenCL driver is installed";
    case CL_INVALID_BUILD_OPTIONS:
    case CL_INVALID_COMPILER_OPTIONS:
      return call == "clBuildProgram" ? kBuildOptionHint : "";
    case CL_MEM_OBJECT_ALLOCATION_FAILURE:
    case CL_OUT_OF_RESOURCES:
      return UsesBlockMemory(call)
                 ? ": the device could not provide the resources; try fewer "
                   "blocks"
                 : ": the device could not provide the resources";
    case CL_OUT_OF_HOST_MEMORY:
      return ": the computer ran out of memory";
    default:
      return "";
  }
}

std::string DescribeClError(const cl::Error& error, std::string_view hint) {
  return fmt::format("Error: {} failed with {} ({}){}.", error.what(),
                     ClStatusName(error.err()), error.err(), hint);
}

std::string DescribeClError(const cl::Error& error) {
  return DescribeClError(error, Hint(error.err(), error.what()));
}

std::string DeviceName(const cl::Device& device) {
  try {
    return device.getInfo<CL_DEVICE_NAME>();
  } catch (const cl::Error&) {
    return "unknown device";
  }
}

bool IsBlank(const std::string& log) {
  return log.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string DescribeBuildError(const cl::BuildError& error) {
  const cl::BuildLogType logs = error.getBuildLog();
  // A driver that refuses the build options leaves the log empty; one that
  // knows no OpenCL C 2.0 may also fail the build (-11) and say nothing, as
  // Mesa's clover does.
  const bool silent =
      std::all_of(logs.begin(), logs.end(),
                  [](const auto& entry) { return IsBlank(entry.second); });
  std::string text = error.err() == CL_BUILD_PROGRAM_FAILURE && silent
                         ? DescribeClError(error, kBuildOptionHint)
                         : DescribeClError(error);
  for (const auto& [device, log] : logs) {
    if (IsBlank(log)) continue;
    text += fmt::format("\nBuild log for {}:\n{}", DeviceName(device), log);
  }
  return text;
}

}  // namespace

const char* ClStatusName(cl_int status) {
  switch (status) {
#define VRAMCHECK_STATUS(name) \
  case name:                   \
    return #name;
    VRAMCHECK_STATUS(CL_SUCCESS)
    VRAMCHECK_STATUS(CL_DEVICE_NOT_FOUND)
    VRAMCHECK_STATUS(CL_DEVICE_NOT_AVAILABLE)
    VRAMCHECK_STATUS(CL_COMPILER_NOT_AVAILABLE)
    VRAMCHECK_STATUS(CL_MEM_OBJECT_ALLOCATION_FAILURE)
    VRAMCHECK_STATUS(CL_OUT_OF_RESOURCES)
    VRAMCHECK_STATUS(CL_OUT_OF_HOST_MEMORY)
    VRAMCHECK_STATUS(CL_PROFILING_INFO_NOT_AVAILABLE)
    VRAMCHECK_STATUS(CL_MEM_COPY_OVERLAP)
    VRAMCHECK_STATUS(CL_IMAGE_FORMAT_MISMATCH)
    VRAMCHECK_STATUS(CL_IMAGE_FORMAT_NOT_SUPPORTED)
    VRAMCHECK_STATUS(CL_BUILD_PROGRAM_FAILURE)
    VRAMCHECK_STATUS(CL_MAP_FAILURE)
    VRAMCHECK_STATUS(CL_MISALIGNED_SUB_BUFFER_OFFSET)
    VRAMCHECK_STATUS(CL_EXEC_STATUS_ERROR_FOR_EVENTS_IN_WAIT_LIST)
    VRAMCHECK_STATUS(CL_COMPILE_PROGRAM_FAILURE)
    VRAMCHECK_STATUS(CL_LINKER_NOT_AVAILABLE)
    VRAMCHECK_STATUS(CL_LINK_PROGRAM_FAILURE)
    VRAMCHECK_STATUS(CL_DEVICE_PARTITION_FAILED)
    VRAMCHECK_STATUS(CL_KERNEL_ARG_INFO_NOT_AVAILABLE)
    VRAMCHECK_STATUS(CL_INVALID_VALUE)
    VRAMCHECK_STATUS(CL_INVALID_DEVICE_TYPE)
    VRAMCHECK_STATUS(CL_INVALID_PLATFORM)
    VRAMCHECK_STATUS(CL_INVALID_DEVICE)
    VRAMCHECK_STATUS(CL_INVALID_CONTEXT)
    VRAMCHECK_STATUS(CL_INVALID_QUEUE_PROPERTIES)
    VRAMCHECK_STATUS(CL_INVALID_COMMAND_QUEUE)
    VRAMCHECK_STATUS(CL_INVALID_HOST_PTR)
    VRAMCHECK_STATUS(CL_INVALID_MEM_OBJECT)
    VRAMCHECK_STATUS(CL_INVALID_IMAGE_FORMAT_DESCRIPTOR)
    VRAMCHECK_STATUS(CL_INVALID_IMAGE_SIZE)
    VRAMCHECK_STATUS(CL_INVALID_SAMPLER)
    VRAMCHECK_STATUS(CL_INVALID_BINARY)
    VRAMCHECK_STATUS(CL_INVALID_BUILD_OPTIONS)
    VRAMCHECK_STATUS(CL_INVALID_PROGRAM)
    VRAMCHECK_STATUS(CL_INVALID_PROGRAM_EXECUTABLE)
    VRAMCHECK_STATUS(CL_INVALID_KERNEL_NAME)
    VRAMCHECK_STATUS(CL_INVALID_KERNEL_DEFINITION)
    VRAMCHECK_STATUS(CL_INVALID_KERNEL)
    VRAMCHECK_STATUS(CL_INVALID_ARG_INDEX)
    VRAMCHECK_STATUS(CL_INVALID_ARG_VALUE)
    VRAMCHECK_STATUS(CL_INVALID_ARG_SIZE)
    VRAMCHECK_STATUS(CL_INVALID_KERNEL_ARGS)
    VRAMCHECK_STATUS(CL_INVALID_WORK_DIMENSION)
    VRAMCHECK_STATUS(CL_INVALID_WORK_GROUP_SIZE)
    VRAMCHECK_STATUS(CL_INVALID_WORK_ITEM_SIZE)
    VRAMCHECK_STATUS(CL_INVALID_GLOBAL_OFFSET)
    VRAMCHECK_STATUS(CL_INVALID_EVENT_WAIT_LIST)
    VRAMCHECK_STATUS(CL_INVALID_EVENT)
    VRAMCHECK_STATUS(CL_INVALID_OPERATION)
    VRAMCHECK_STATUS(CL_INVALID_GL_OBJECT)
    VRAMCHECK_STATUS(CL_INVALID_BUFFER_SIZE)
    VRAMCHECK_STATUS(CL_INVALID_MIP_LEVEL)
    VRAMCHECK_STATUS(CL_INVALID_GLOBAL_WORK_SIZE)
    VRAMCHECK_STATUS(CL_INVALID_PROPERTY)
    VRAMCHECK_STATUS(CL_INVALID_IMAGE_DESCRIPTOR)
    VRAMCHECK_STATUS(CL_INVALID_COMPILER_OPTIONS)
    VRAMCHECK_STATUS(CL_INVALID_LINKER_OPTIONS)
    VRAMCHECK_STATUS(CL_INVALID_DEVICE_PARTITION_COUNT)
    VRAMCHECK_STATUS(CL_PLATFORM_NOT_FOUND_KHR)
#undef VRAMCHECK_STATUS
    // Defined by OpenCL 2.0 and later headers, which this build does not use.
    case -69:
      return "CL_INVALID_PIPE_SIZE";
    case -70:
      return "CL_INVALID_DEVICE_QUEUE";
    case -71:
      return "CL_INVALID_SPEC_ID";
    case -72:
      return "CL_MAX_SIZE_RESTRICTION_EXCEEDED";
    default:
      return "unknown status";
  }
}

std::string DescribeException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const cl::BuildError& e) {
    return DescribeBuildError(e);
  } catch (const cl::Error& e) {
    return DescribeClError(e);
  } catch (const std::bad_alloc&) {
    return "Error: the computer ran out of memory.";
  } catch (const std::exception& e) {
    return fmt::format("Error: {}.", e.what());
  } catch (...) {
    return "Error: unknown failure.";
  }
}

}  // namespace vramcheck
