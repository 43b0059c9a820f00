#ifndef VRAMCHECK_BENCH_PASS_TIMING_H_
#define VRAMCHECK_BENCH_PASS_TIMING_H_

#include <cstdint>
#include <optional>
#include <vector>

#include <CL/opencl.hpp>

namespace vramcheck::bench {

// One tester pass: its wall time on the host's steady clock, and the sum of
// its launches' times.
struct PassSample {
  std::int64_t wall_ns;
  double kernel_ns;
};

// Nanoseconds that launches moving one block each at the given GiB/s (all
// above 0 and finite, as the tester's are) spent on the device.
double KernelNs(const std::vector<float>& write_speeds,
                const std::vector<float>& read_speeds);

// Kernel time over wall time; nullopt where the kernel time exceeds the
// wall time, which a device clock that runs faster than the host's gives.
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
