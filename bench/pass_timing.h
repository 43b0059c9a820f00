#ifndef VRAMCHECK_BENCH_PASS_TIMING_H_
#define VRAMCHECK_BENCH_PASS_TIMING_H_

#include <cstdint>
#include <optional>
#include <vector>

#include <CL/opencl.hpp>

namespace vramcheck::bench {

// One tester pass: its wall time on the host's steady clock, and the sum of
// its launches' profiled times, nullopt when a launch gave no usable speed.
struct PassSample {
  std::int64_t wall_ns;
  std::optional<double> kernel_ns;
};

// Nanoseconds that launches moving one block each at the given GiB/s spent
// on the device; nullopt when a speed is not a positive finite number, as
// from a zero profiling interval.
std::optional<double> KernelNs(const std::vector<float>& write_speeds,
                               const std::vector<float>& read_speeds);

// Kernel time over wall time; nullopt without a kernel time or when it
// exceeds the wall time, which only a wrapped profiling interval gives.
std::optional<double> Efficiency(const PassSample& pass);

// Runs the tester's own passes over `blocks` blocks of `device`: `warmups`
// untimed, then `reps` timed ones. Returns nullopt when the device cannot
// hold the blocks or a pass finds an error. Throws cl::Error.
std::optional<std::vector<PassSample>> TimePasses(const cl::Device& device,
                                                  std::uint32_t blocks,
                                                  std::uint32_t warmups,
                                                  std::uint32_t reps);

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_PASS_TIMING_H_
