#include "bench/pass_timing.h"

#include <chrono>
#include <cmath>
#include <numeric>
#include <stop_token>

#include <fmt/format.h>

#include "test_engine/memory_tester.h"

namespace vramcheck::bench {
namespace {

// Seconds a launch that moved one 0.125 GiB block at `speed` GiB/s took;
// nullopt for a speed that is not a positive finite number.
std::optional<double> BlockSeconds(float speed) {
  if (!std::isfinite(speed) || speed <= 0) return std::nullopt;
  return 0.125 / speed;
}

}  // namespace

std::optional<double> KernelNs(const std::vector<float>& write_speeds,
                               const std::vector<float>& read_speeds) {
  double seconds = 0;
  for (const auto* speeds : {&write_speeds, &read_speeds}) {
    for (const float speed : *speeds) {
      const auto block_seconds = BlockSeconds(speed);
      if (!block_seconds) return std::nullopt;
      seconds += *block_seconds;
    }
  }
  return seconds * 1e9;
}

std::optional<double> Efficiency(const PassSample& pass) {
  if (!pass.kernel_ns || pass.wall_ns <= 0 ||
      *pass.kernel_ns > static_cast<double>(pass.wall_ns)) {
    return std::nullopt;
  }
  return *pass.kernel_ns / static_cast<double>(pass.wall_ns);
}

std::optional<double> HostNsPerBlock(const PassSample& pass,
                                     std::uint32_t blocks) {
  if (!Efficiency(pass) || blocks == 0) return std::nullopt;
  return (static_cast<double>(pass.wall_ns) - *pass.kernel_ns) / blocks;
}

bool TimePasses(const cl::Device& device, std::uint32_t blocks,
                std::uint32_t warmups, std::uint32_t reps,
                std::vector<PassSample>& samples, std::string& failure) {
  MemoryTest test(device);
  std::uint64_t total_bytes = 0;
  if (!test.Prepare(total_bytes, blocks)) {
    failure =
        fmt::format("the device cannot hold {} blocks of 128 MiB", blocks);
    return false;
  }

  std::vector<std::uint32_t> word_errors;
  std::vector<std::uint32_t> bit_errors;
  std::vector<float> write_speeds;
  std::vector<float> read_speeds;
  const std::stop_token never_stopped;
  for (std::uint32_t iteration = 1; iteration <= warmups + reps; ++iteration) {
    const auto start = std::chrono::steady_clock::now();
    const bool ran = test.RunPass(word_errors, bit_errors, write_speeds,
                                  read_speeds, iteration, never_stopped);
    const auto wall = std::chrono::steady_clock::now() - start;
    const std::uint64_t errors = std::accumulate(
        word_errors.begin(), word_errors.end(), std::uint64_t{0});
    if (!ran || errors != 0) {
      failure = fmt::format("pass {} {}", iteration,
                            ran ? fmt::format("found {} wrong words", errors)
                                : std::string("did not run"));
      return false;
    }
    if (iteration <= warmups) continue;
    samples.push_back(
        {std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count(),
         KernelNs(write_speeds, read_speeds)});
  }
  return true;
}

}  // namespace vramcheck::bench
