#include "bench/fill_timing.h"

namespace vramcheck::bench {
namespace {

// Waits for `event`, the last command on `queue`, and returns its profiled
// interval.
FillResult WaitAndTime(cl_command_queue queue, cl_event event) {
  cl_int status = clFinish(queue);
  if (status != CL_SUCCESS) return {status, "clFinish", 0};
  cl_ulong start = 0;
  cl_ulong end = 0;
  status = clGetEventProfilingInfo(event, CL_PROFILING_COMMAND_START,
                                   sizeof(start), &start, nullptr);
  if (status == CL_SUCCESS) {
    status = clGetEventProfilingInfo(event, CL_PROFILING_COMMAND_END,
                                     sizeof(end), &end, nullptr);
  }
  if (status != CL_SUCCESS) return {status, "clGetEventProfilingInfo", 0};
  return {CL_SUCCESS, nullptr, static_cast<std::int64_t>(end - start)};
}

}  // namespace

FillResult TimedFill(cl_command_queue queue, cl_mem buffer, cl_uint pattern,
                     std::size_t size) {
  cl_event event = nullptr;
  const cl_int status = clEnqueueFillBuffer(
      queue, buffer, &pattern, sizeof(pattern), 0, size, 0, nullptr, &event);
  if (status != CL_SUCCESS) return {status, "clEnqueueFillBuffer", 0};
  const FillResult result = WaitAndTime(queue, event);
  clReleaseEvent(event);
  return result;
}

}  // namespace vramcheck::bench
