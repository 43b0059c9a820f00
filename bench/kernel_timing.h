#ifndef VRAMCHECK_BENCH_KERNEL_TIMING_H_
#define VRAMCHECK_BENCH_KERNEL_TIMING_H_

#include <array>
#include <cstdint>

#include <CL/opencl.hpp>

namespace vramcheck::bench {

// The timed kernels, in the order a round runs them. Each leaves the block
// holding what the next expects: Read checks the pattern Write stored, and
// the loads scan the constant the plain store wrote.
enum Case { kWrite, kRead, kPlainStore, kPlainLoad, kPermutedLoad, kCaseCount };

// Each case's kernel and the name its figures have in the table.
struct CaseNames {
  const char* kernel;
  const char* figure;
};
inline constexpr std::array<CaseNames, kCaseCount> kCaseNames = {{
    {"Write", "write"},
    {"Read", "read"},
    {"PlainStore", "plain_store"},
    {"PlainLoad", "plain_load"},
    {"PermutedLoad", "permuted_load"},
}};

// The time of each case of one round, in nanoseconds: profiled, or the
// host's where the device's cannot be true (TimedLaunchNs).
using RoundTimes = std::array<std::int64_t, kCaseCount>;

// Times the tester's Write and Read kernels against their ceilings on one
// 128 MiB block: a plain streaming store, a plain load, and a load in the
// order Read visits the elements. Every launch uses the tester's geometry
// and is waited for alone, as the tester does.
class KernelTiming {
 public:
  // Creates a context and a profiling queue, builds the kernels and
  // allocates the block. Throws cl::Error.
  explicit KernelTiming(const cl::Device& device);

  RoundTimes RunRound();

  // True when Read found no error and no load saw a value the plain store
  // never wrote in any round so far: the kernels did their real work.
  bool Clean();

 private:
  cl::Context context_;
  cl::CommandQueue queue_;
  cl::Buffer block_;
  cl::Buffer counters_;  // Read's two error counters
  cl::Buffer sink_;      // written only by a load that sees a wrong value
  std::array<cl::Kernel, kCaseCount> kernels_;
};

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_KERNEL_TIMING_H_
