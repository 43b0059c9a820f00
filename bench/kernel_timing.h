#ifndef VRAMCHECK_BENCH_KERNEL_TIMING_H_
#define VRAMCHECK_BENCH_KERNEL_TIMING_H_

#include <array>
#include <cstdint>
#include <string>

#include <CL/opencl.hpp>

namespace vramcheck::bench {

// The measured operations, in the order a round runs them. Each one leaves
// the first block holding what the next one expects: Read checks the
// pattern Write stored, the plain load scans the constant the plain store
// wrote, and the copy reads the constant the fill wrote.
enum Case {
  kWrite,
  kRead,
  kPlainStore,
  kPlainLoad,
  kPermutedLoad,
  kFill,
  kCopy,
  kCaseCount
};

struct CaseInfo {
  const char* name;     // as printed
  const char* key;      // as written to the results file
  std::uint64_t bytes;  // moved by one repetition
};

extern const std::array<CaseInfo, kCaseCount> kCases;

// Profiled END - START of every case of one round, in nanoseconds; zero or
// negative where the device's timestamps were not sane.
using RoundTimes = std::array<std::int64_t, kCaseCount>;

// Times the device program's Write and Read kernels and the ceilings they
// are compared with on two 128 MiB blocks of one device. Every command is
// launched alone and waited for, as the tester does.
class KernelTiming {
 public:
  // Creates a context and a profiling queue, builds the device program and
  // the plain kernels and allocates the blocks. Throws cl::Error.
  explicit KernelTiming(const cl::Device& device);

  // Writes the pattern and checks that Read finds it intact, then that it
  // finds exactly one flipped bit. Leaves the counters at zero. Returns
  // false and sets `failure` when Read miscounts.
  bool CheckRead(std::string& failure);

  // Runs every case once, in order.
  RoundTimes RunRound();

  // Returns false and sets `failure` when Read found an error or the plain
  // load took its never-taken branch since CheckRead.
  bool CheckRounds(std::string& failure);

 private:
  std::int64_t TimedLaunch(const cl::Kernel& kernel);
  std::int64_t TimedFill();
  std::int64_t TimedCopy();
  // Returns Read's word and bit error counts and zeroes them.
  std::array<cl_uint, 2> TakeCounters();

  cl::Context context_;
  cl::CommandQueue queue_;
  cl::Kernel write_;
  cl::Kernel read_;
  cl::Kernel plain_store_;
  cl::Kernel plain_load_;
  cl::Kernel permuted_load_;
  cl::Buffer counters_;  // Read's word and bit error counts
  cl::Buffer sink_;      // the plain load's never-written flag
  cl::Buffer block_;
  cl::Buffer copy_destination_;
};

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_KERNEL_TIMING_H_
