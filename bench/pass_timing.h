#ifndef VRAMCHECK_BENCH_PASS_TIMING_H_
#define VRAMCHECK_BENCH_PASS_TIMING_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CL/opencl.hpp>

namespace vramcheck::bench {

// One timed pass of the tester.
struct PassSample {
  std::int64_t wall_ns;
  // Sum of the profiled times of the pass's Write and Read launches;
  // nullopt when a launch reported no usable speed.
  std::optional<double> kernel_ns;
};

// Time, in nanoseconds, that launches moving one block each at the given
// GiB/s spent on the device; nullopt when a speed is not a positive finite
// number, as from a zero profiling interval.
std::optional<double> KernelNs(const std::vector<float>& write_speeds,
                               const std::vector<float>& read_speeds);

// Kernel time over wall time; nullopt without a kernel time or when it
// exceeds the wall time, which only a wrapped profiling interval gives.
std::optional<double> Efficiency(const PassSample& pass);

// Wall time not spent in kernels, per block; nullopt where Efficiency is.
std::optional<double> HostNsPerBlock(const PassSample& pass,
                                     std::uint32_t blocks);

// Prepares a MemoryTest with `blocks` blocks on `device`, runs `warmups`
// passes, then `reps` passes timed on the host's steady clock, and appends
// one sample per timed pass. Returns false and sets `failure` when the
// device cannot hold the blocks or a pass finds an error. Throws cl::Error.
bool TimePasses(const cl::Device& device, std::uint32_t blocks,
                std::uint32_t warmups, std::uint32_t reps,
                std::vector<PassSample>& samples, std::string& failure);

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_PASS_TIMING_H_
