#include "bench/pass_timing.h"

#include <chrono>
#include <numeric>
#include <stop_token>

#include "test_engine/memory_tester.h"

namespace vramcheck::bench {

double KernelNs(const std::vector<float>& write_speeds,
                const std::vector<float>& read_speeds) {
  double seconds = 0;
  for (const auto* speeds : {&write_speeds, &read_speeds}) {
    for (const float speed : *speeds) seconds += kBlockGib / speed;
  }
  return seconds * 1e9;
}

std::optional<double> Efficiency(const PassSample& pass) {
  if (pass.wall_ns <= 0 || pass.kernel_ns > static_cast<double>(pass.wall_ns)) {
    return std::nullopt;
  }
  return pass.kernel_ns / static_cast<double>(pass.wall_ns);
}

std::optional<std::vector<PassSample>> TimePasses(const cl::Device& device,
                                                  std::uint32_t blocks,
                                                  std::uint32_t warmups,
                                                  std::uint32_t reps) {
  MemoryTest test(device);
  std::uint64_t total_bytes = 0;
  if (!test.Prepare(total_bytes, blocks)) return std::nullopt;

  std::vector<std::uint32_t> word_errors;
  std::vector<std::uint32_t> bit_errors;
  std::vector<float> write_speeds;
  std::vector<float> read_speeds;
  std::vector<PassSample> samples;
  for (std::uint32_t iteration = 1; iteration <= warmups + reps; ++iteration) {
    const auto start = std::chrono::steady_clock::now();
    const bool ran = test.RunPass(word_errors, bit_errors, write_speeds,
                                  read_speeds, iteration, std::stop_token());
    const auto wall = std::chrono::steady_clock::now() - start;
    if (!ran || std::accumulate(word_errors.begin(), word_errors.end(),
                                std::uint64_t{0}) != 0) {
      return std::nullopt;
    }
    if (iteration <= warmups) continue;
    samples.push_back(
        {std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count(),
         KernelNs(write_speeds, read_speeds)});
  }
  return samples;
}

}  // namespace vramcheck::bench
