#ifndef VRAMCHECK_TEST_ENGINE_MEMORY_TESTER_H_
#define VRAMCHECK_TEST_ENGINE_MEMORY_TESTER_H_

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <stop_token>
#include <vector>

#include <CL/opencl.hpp>

#include "kernels/device_program.h"

namespace vramcheck {

// Number of whole blocks that fit into `global_mem_size` bytes beside the
// 8-byte error counter buffer: (global_mem_size - 8) >> 27, and 0 when the
// memory is smaller than the counters.
std::uint64_t MaxBlocks(std::uint64_t global_mem_size);

// Bandwidth in GiB/s of a launch that moved one block in `elapsed_ns`
// nanoseconds. A zero interval gives positive infinity.
float BlockBandwidth(std::uint64_t elapsed_ns);

// Launches `kernel` over one block on `queue`, waits for the queue to finish
// and returns the launch's END - START from the device's profiling clock in
// nanoseconds. Where that is not above 0 or under 4000 ns, which no memory
// can be fast enough for, the driver's clock is broken and the launch's time
// on the host's steady clock, from enqueueing to the end of the wait, is
// returned instead. That host time also goes to `host_ns`, where given.
std::uint64_t TimedLaunchNs(const cl::CommandQueue& queue,
                            const cl::Kernel& kernel,
                            std::uint64_t* host_ns = nullptr);

// What one launch over one block gave, told as soon as it has finished.
struct BlockReport {
  enum class Kernel { kWrite, kRead };
  Kernel kernel;
  std::uint32_t block;        // from 0, in block order
  std::uint64_t device_ns;    // as TimedLaunchNs returns it
  std::uint64_t host_ns;      // enqueueing to the end of the wait
  std::uint32_t word_errors;  // Read only; 0 for Write
  std::uint32_t bit_errors;   // Read only; 0 for Write
};
using BlockObserver = std::function<void(const BlockReport&)>;

// Owns every OpenCL object of a test on one device: a context, a profiling
// queue, the kernels "Write" and "Read", the two-word error counter buffer
// and the blocks under test. Not copyable; used from one thread.
class MemoryTest {
 public:
  // Makes no OpenCL call; the device handle is not retained.
  explicit MemoryTest(cl::Device device);
  // Releases the blocks front to back, then the counters, the Read and Write
  // kernels, the queue and the context.
  ~MemoryTest();

  MemoryTest(const MemoryTest&) = delete;
  MemoryTest& operator=(const MemoryTest&) = delete;

  // Creates every resource for `block_count` blocks, all or nothing. Returns
  // false, creating nothing, when already prepared (`total_bytes_out`
  // untouched) or when the device's global memory cannot hold the blocks
  // and the counters (`total_bytes_out` set to 0). On success sets
  // `total_bytes_out` to block_count * kBlockSize. OpenCL failures throw
  // cl::Error (cl::BuildError for the program build) and leave the object
  // unprepared with everything created so far released; a context that
  // lists no device throws std::out_of_range.
  bool Prepare(std::uint64_t& total_bytes_out, std::uint64_t block_count);

  // Runs one pass: writes the pattern of `iteration` into every block, then
  // verifies every block. Fills the four sequences with one entry per block,
  // in block order. Returns false, touching nothing, when not prepared, and
  // false with all four sequences empty when `cancel_token` shows a stop
  // request at a block boundary. OpenCL failures throw cl::Error. Where
  // given, `observer` is told of every launch as soon as it has finished,
  // also of those in a pass that a stop or a failure ends.
  bool RunPass(std::vector<std::uint32_t>& word_errors,
               std::vector<std::uint32_t>& bit_errors,
               std::vector<float>& write_speeds,
               std::vector<float>& read_speeds, std::uint32_t iteration,
               const std::stop_token& cancel_token,
               const BlockObserver& observer = nullptr);

 private:
  // Maps the error counters with `flags`, zeroes both words and enqueues the
  // unmap. Returns the words as they were when mapped for reading, else 0s.
  std::array<cl_uint, 2> TakeCounters(cl_map_flags flags);

  bool prepared_ = false;
  cl::Device device_;
  cl::Context context_;
  cl::CommandQueue queue_;
  cl::Kernel write_kernel_;
  cl::Kernel read_kernel_;
  cl::Buffer error_counters_;
  std::uint64_t total_bytes_ = 0;
  std::list<cl::Buffer> blocks_;
};

}  // namespace vramcheck

#endif  // VRAMCHECK_TEST_ENGINE_MEMORY_TESTER_H_
