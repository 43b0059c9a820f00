#include "test_engine/memory_tester.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string>

#include "kernels/device_program.h"

namespace vramcheck {
namespace {

// A block moved in less time would have moved at over 33 TB/s, four times
// the fastest memory of today.
constexpr std::uint64_t kShortestBlockNs = 4000;

void ClearAll(std::vector<std::uint32_t>& word_errors,
              std::vector<std::uint32_t>& bit_errors,
              std::vector<float>& write_speeds,
              std::vector<float>& read_speeds) {
  word_errors.clear();
  bit_errors.clear();
  write_speeds.clear();
  read_speeds.clear();
}

}  // namespace

std::uint64_t MaxBlocks(std::uint64_t global_mem_size) {
  if (global_mem_size < kCounterBytes) return 0;
  return (global_mem_size - kCounterBytes) / kBlockSize;
}

float BlockBandwidth(std::uint64_t elapsed_ns) {
  const double seconds = static_cast<double>(elapsed_ns) / 1e9;
  const double divisor =
      std::max(seconds, std::numeric_limits<double>::min());
  return static_cast<float>(kBlockGib / divisor);
}

std::uint64_t TimedLaunchNs(const cl::CommandQueue& queue,
                            const cl::Kernel& kernel, std::uint64_t* host_ns) {
  cl::Event event;
  const auto host_start = std::chrono::steady_clock::now();
  queue.enqueueNDRangeKernel(kernel, kLaunchOffset, kLaunchGlobal,
                             kLaunchLocal, nullptr, &event);
  queue.finish();
  const auto host_time =
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now() - host_start);
  if (host_ns != nullptr) {
    *host_ns = static_cast<std::uint64_t>(host_time.count());
  }
  const cl_ulong end = event.getProfilingInfo<CL_PROFILING_COMMAND_END>();
  const cl_ulong start = event.getProfilingInfo<CL_PROFILING_COMMAND_START>();
  // Some drivers' profiling clocks report the same, reversed or zero times
  // for every launch; the host's clock around the launch then stands in.
  if (end <= start || end - start < kShortestBlockNs) {
    return static_cast<std::uint64_t>(host_time.count());
  }
  return end - start;
}

MemoryTest::MemoryTest(cl::Device device) : device_(device) {}

MemoryTest::~MemoryTest() {
  // The remaining members go in reverse declaration order: the counters,
  // the Read and Write kernels, the queue, then the context.
  while (!blocks_.empty()) blocks_.pop_front();
}

bool MemoryTest::Prepare(std::uint64_t& total_bytes_out,
                         std::uint64_t block_count) {
  if (prepared_) return false;
  total_bytes_out = 0;
  const cl_ulong global_mem_size =
      device_.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>();
  if (MaxBlocks(global_mem_size) < block_count) return false;

  // Everything is created into locals first and handed over at the end, so
  // an exception leaves the object as it was.
  cl::Context context(device_);
  const std::vector<cl::Device> devices =
      context.getInfo<CL_CONTEXT_DEVICES>();
  if (devices.empty()) {
    throw std::out_of_range("the OpenCL driver gave a context without devices");
  }
  cl::CommandQueue queue(context, devices[0], CL_QUEUE_PROFILING_ENABLE);
  cl::Kernel write_kernel;
  cl::Kernel read_kernel;
  {
    // Built at construction. The build option "-cl-std=CL2.0" is the
    // bindings' default for this constructor (CL_HPP_CL_1_2_DEFAULT_BUILD
    // is not defined); a test checks that the driver receives it. A failed
    // build throws cl::BuildError with every device's log.
    const cl::Program program(context, std::string(kDeviceProgram),
                              /*build=*/true);
    write_kernel = cl::Kernel(program, "Write");
    read_kernel = cl::Kernel(program, "Read");
  }
  cl::Buffer error_counters(context, CL_MEM_READ_WRITE | CL_MEM_ALLOC_HOST_PTR,
                            kCounterBytes);
  std::list<cl::Buffer> blocks;
  for (std::uint64_t i = 0; i < block_count; ++i) {
    blocks.push_back(cl::Buffer(context, CL_MEM_READ_WRITE, kBlockSize));
  }

  total_bytes_ = block_count * kBlockSize;
  total_bytes_out = total_bytes_;
  context_ = context;
  queue_ = queue;
  write_kernel_ = write_kernel;
  read_kernel_ = read_kernel;
  error_counters_ = error_counters;
  blocks_.swap(blocks);
  prepared_ = true;
  return true;
}

bool MemoryTest::RunPass(std::vector<std::uint32_t>& word_errors,
                         std::vector<std::uint32_t>& bit_errors,
                         std::vector<float>& write_speeds,
                         std::vector<float>& read_speeds,
                         std::uint32_t iteration,
                         const std::stop_token& cancel_token,
                         const BlockObserver& observer) {
  const std::uint32_t calc_param = CalcParam(iteration);
  if (!prepared_) return false;
  ClearAll(word_errors, bit_errors, write_speeds, read_speeds);

  // A stop ends the pass at the next block boundary with nothing reported.
  const auto stopped = [&] {
    if (!cancel_token.stop_requested()) return false;
    ClearAll(word_errors, bit_errors, write_speeds, read_speeds);
    return true;
  };

  const auto tell = [&](BlockReport report) {
    if (observer) observer(report);
  };
  std::uint64_t host_ns = 0;
  std::uint32_t index = 0;
  for (const cl::Buffer& block : blocks_) {
    if (stopped()) return false;
    write_kernel_.setArg(0, block);
    write_kernel_.setArg(1, calc_param);
    const std::uint64_t device_ns =
        TimedLaunchNs(queue_, write_kernel_, &host_ns);
    write_speeds.push_back(BlockBandwidth(device_ns));
    tell({BlockReport::Kernel::kWrite, index++, device_ns, host_ns, 0, 0});
  }

  // Counts left from an earlier pass must not reach the first block's entry.
  TakeCounters(CL_MAP_WRITE);

  index = 0;
  for (const cl::Buffer& block : blocks_) {
    if (stopped()) return false;
    read_kernel_.setArg(0, error_counters_);
    read_kernel_.setArg(1, block);
    read_kernel_.setArg(2, calc_param);
    read_kernel_.setArg(3, iteration);
    const std::uint64_t device_ns =
        TimedLaunchNs(queue_, read_kernel_, &host_ns);
    read_speeds.push_back(BlockBandwidth(device_ns));
    const auto [words, bits] = TakeCounters(CL_MAP_READ | CL_MAP_WRITE);
    word_errors.push_back(words);
    bit_errors.push_back(bits);
    tell({BlockReport::Kernel::kRead, index++, device_ns, host_ns, words,
          bits});
  }
  return true;
}

std::array<cl_uint, 2> MemoryTest::TakeCounters(cl_map_flags flags) {
  auto* counters = static_cast<cl_uint*>(queue_.enqueueMapBuffer(
      error_counters_, CL_TRUE, flags, 0, kCounterBytes));
  std::array<cl_uint, 2> taken = {0, 0};
  if (flags & CL_MAP_READ) taken = {counters[0], counters[1]};
  counters[0] = 0;
  counters[1] = 0;
  // The unmap is not waited for: the in-order queue runs it before the next
  // launch.
  queue_.enqueueUnmapMemObject(error_counters_, counters);
  return taken;
}

}  // namespace vramcheck
