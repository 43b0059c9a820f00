#ifndef VRAMCHECK_BENCH_FILL_TIMING_H_
#define VRAMCHECK_BENCH_FILL_TIMING_H_

#include <cstddef>
#include <cstdint>

#include <CL/cl.h>

namespace vramcheck::bench {

// Outcome of a timed fill: `call` names the OpenCL call that failed when
// `status` is not CL_SUCCESS.
struct FillResult {
  cl_int status;
  const char* call;
  std::int64_t elapsed_ns;
};

// Fills the first `size` bytes of `buffer` with copies of `pattern` through
// clEnqueueFillBuffer on the profiling queue `queue`, waits for it and
// returns its profiled END - START, which is zero or negative when the
// driver's timestamps are not sane.
//
// clEnqueueFillBuffer is an OpenCL 1.2 entry point; this file alone is
// compiled against the 1.2 C API so that the C++ bindings can stay at 1.1.
FillResult TimedFill(cl_command_queue queue, cl_mem buffer, cl_uint pattern,
                     std::size_t size);

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_FILL_TIMING_H_
