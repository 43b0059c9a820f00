#include "bench/kernel_timing.h"

#include <fmt/format.h>

#include "bench/fill_timing.h"
#include "kernels/device_program.h"
#include "test_engine/memory_tester.h"

namespace vramcheck::bench {
namespace {

// Write and Read run with the pattern of the tester's first pass.
constexpr cl_uint kIteration = 1;
constexpr cl_uint kCalcParam = CalcParam(kIteration);

// The plain store, the fill and the plain load's never-matching value.
constexpr cl_uint kStoreValue = 0x5a5a5a5a;
constexpr cl_uint kNeverValue = ~kStoreValue;

// A word in the middle of the block, for Read to find corrupted.
constexpr std::size_t kFlipOffset = kBlockSize / 2 + 4;

// The ceilings for Write and Read: one 16-byte store or load per
// work-item, in ascending order, and a load in the order Read visits the
// elements (permuted within granules of 8192), which bounds Read wherever
// scattered reads cost more than streaming ones. The loads' branch never
// fires but keeps the load from being dropped.
constexpr char kPlainProgram[] = R"CLC(
__kernel __attribute__((reqd_work_group_size(64, 1, 1)))
void PlainStore(global uint4* dst, uint value) {
  uint index = get_global_id(0) + get_global_id(1) * 0x4000;
  dst[index] = (uint4)(value);
}

__kernel __attribute__((reqd_work_group_size(64, 1, 1)))
void PlainLoad(global uint4* src, volatile global uint* sink, uint never) {
  uint index = get_global_id(0) + get_global_id(1) * 0x4000;
  uint4 value = src[index];
  if (any(value == (uint4)(never))) sink[0] = 1;
}

__kernel __attribute__((reqd_work_group_size(64, 1, 1)))
void PermutedLoad(global uint4* src, volatile global uint* sink, uint never,
                  uint calc_param, uint iter) {
  uint id = get_global_id(0) + get_global_id(1) * 0x4000;
  uint position = (11 * id + 999 * iter + calc_param + 7 * (id / 0x2000)) %
                  0x2000;
  uint4 value = src[id - id % 0x2000 + position];
  if (any(value == (uint4)(never))) sink[0] = 1;
}
)CLC";

std::int64_t ProfiledNs(const cl::Event& event) {
  const cl_ulong start = event.getProfilingInfo<CL_PROFILING_COMMAND_START>();
  const cl_ulong end = event.getProfilingInfo<CL_PROFILING_COMMAND_END>();
  return static_cast<std::int64_t>(end - start);
}

}  // namespace

const std::array<CaseInfo, kCaseCount> kCases = {{
    {"Write", "write", kBlockSize},
    {"Read", "read", kBlockSize},
    {"plain store", "plain_store", kBlockSize},
    {"plain load", "plain_load", kBlockSize},
    {"permuted load", "permuted_load", kBlockSize},
    {"fill", "fill", kBlockSize},
    // Every byte is read once and written once.
    {"copy", "copy", 2 * kBlockSize},
}};

KernelTiming::KernelTiming(const cl::Device& device)
    : context_(device), queue_(context_, device, CL_QUEUE_PROFILING_ENABLE) {
  // Both programs are built as the tester builds its own.
  const cl::Program program(context_, std::string(kDeviceProgram),
                            /*build=*/true);
  write_ = cl::Kernel(program, "Write");
  read_ = cl::Kernel(program, "Read");
  const cl::Program plain(context_, kPlainProgram, /*build=*/true);
  plain_store_ = cl::Kernel(plain, "PlainStore");
  plain_load_ = cl::Kernel(plain, "PlainLoad");
  permuted_load_ = cl::Kernel(plain, "PermutedLoad");

  const std::array<cl_uint, 2> zeros = {0, 0};
  counters_ = cl::Buffer(context_, CL_MEM_READ_WRITE, sizeof(zeros));
  sink_ = cl::Buffer(context_, CL_MEM_READ_WRITE, sizeof(cl_uint));
  queue_.enqueueWriteBuffer(counters_, CL_TRUE, 0, sizeof(zeros), zeros.data());
  queue_.enqueueWriteBuffer(sink_, CL_TRUE, 0, sizeof(cl_uint), zeros.data());
  block_ = cl::Buffer(context_, CL_MEM_READ_WRITE, kBlockSize);
  copy_destination_ = cl::Buffer(context_, CL_MEM_READ_WRITE, kBlockSize);

  write_.setArg(0, block_);
  write_.setArg(1, kCalcParam);
  read_.setArg(0, counters_);
  read_.setArg(1, block_);
  read_.setArg(2, kCalcParam);
  read_.setArg(3, kIteration);
  plain_store_.setArg(0, block_);
  plain_store_.setArg(1, kStoreValue);
  plain_load_.setArg(0, block_);
  plain_load_.setArg(1, sink_);
  plain_load_.setArg(2, kNeverValue);
  permuted_load_.setArg(0, block_);
  permuted_load_.setArg(1, sink_);
  permuted_load_.setArg(2, kNeverValue);
  permuted_load_.setArg(3, kCalcParam);
  permuted_load_.setArg(4, kIteration);
}

bool KernelTiming::CheckRead(std::string& failure) {
  TimedLaunch(write_);
  TimedLaunch(read_);
  const auto [intact_words, intact_bits] = TakeCounters();

  cl_uint word = 0;
  queue_.enqueueReadBuffer(block_, CL_TRUE, kFlipOffset, sizeof(word), &word);
  word ^= 1;
  queue_.enqueueWriteBuffer(block_, CL_TRUE, kFlipOffset, sizeof(word), &word);
  TimedLaunch(read_);
  const auto [flipped_words, flipped_bits] = TakeCounters();

  if (intact_words != 0 || intact_bits != 0) {
    failure = fmt::format(
        "Read counted {} wrong words ({} bits) in the block Write filled",
        intact_words, intact_bits);
    return false;
  }
  if (flipped_words != 1 || flipped_bits != 1) {
    failure =
        fmt::format("Read counted {} wrong words ({} bits) for one flipped bit",
                    flipped_words, flipped_bits);
    return false;
  }
  return true;
}

RoundTimes KernelTiming::RunRound() {
  RoundTimes times;
  times[kWrite] = TimedLaunch(write_);
  times[kRead] = TimedLaunch(read_);
  times[kPlainStore] = TimedLaunch(plain_store_);
  times[kPlainLoad] = TimedLaunch(plain_load_);
  times[kPermutedLoad] = TimedLaunch(permuted_load_);
  times[kFill] = TimedFill();
  times[kCopy] = TimedCopy();
  return times;
}

bool KernelTiming::CheckRounds(std::string& failure) {
  const auto [words, bits] = TakeCounters();
  cl_uint sink = 0;
  queue_.enqueueReadBuffer(sink_, CL_TRUE, 0, sizeof(sink), &sink);
  if (words != 0 || bits != 0) {
    failure = fmt::format("Read counted {} wrong words ({} bits) in the rounds",
                          words, bits);
    return false;
  }
  if (sink != 0) {
    failure = "the plain load found a value the plain store never wrote";
    return false;
  }
  return true;
}

std::int64_t KernelTiming::TimedLaunch(const cl::Kernel& kernel) {
  cl::Event event;
  queue_.enqueueNDRangeKernel(kernel, kLaunchOffset, kLaunchGlobal,
                              kLaunchLocal, nullptr, &event);
  queue_.finish();
  return ProfiledNs(event);
}

std::int64_t KernelTiming::TimedFill() {
  const FillResult result =
      bench::TimedFill(queue_(), block_(), kStoreValue, kBlockSize);
  if (result.status != CL_SUCCESS) throw cl::Error(result.status, result.call);
  return result.elapsed_ns;
}

std::int64_t KernelTiming::TimedCopy() {
  cl::Event event;
  queue_.enqueueCopyBuffer(block_, copy_destination_, 0, 0, kBlockSize, nullptr,
                           &event);
  queue_.finish();
  return ProfiledNs(event);
}

std::array<cl_uint, 2> KernelTiming::TakeCounters() {
  std::array<cl_uint, 2> counts = {0, 0};
  queue_.enqueueReadBuffer(counters_, CL_TRUE, 0, sizeof(counts),
                           counts.data());
  const std::array<cl_uint, 2> zeros = {0, 0};
  queue_.enqueueWriteBuffer(counters_, CL_TRUE, 0, sizeof(zeros), zeros.data());
  return counts;
}

}  // namespace vramcheck::bench
