// The benchmark's statistics and pass figures, and a short run of its
// kernels on the simulated GPU.

#include <cstdint>
#include <vector>

#include <CL/opencl.hpp>
#include <gtest/gtest.h>

#include "bench/kernel_timing.h"
#include "bench/pass_timing.h"
#include "bench/statistics.h"
#include "test_engine/memory_tester.h"

namespace vramcheck::bench {
namespace {

TEST(StatisticsTest, MedianOfOddAndEvenCountsWhateverTheOrder) {
  const auto odd = Summarize({5, 1, 3});
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->median, 3);
  EXPECT_EQ(odd->min, 1);
  EXPECT_EQ(odd->max, 5);
  EXPECT_EQ(odd->count, 3u);
  EXPECT_EQ(Summarize({4, 1, 10, 2})->median, 3);
  EXPECT_FALSE(Summarize({}));
}

TEST(StatisticsTest, GibPerSecondOfEachInterval) {
  // A block moved in 1 ms is 125 GiB/s.
  EXPECT_EQ(GibPerSecond(kBlockSize, {2'000'000, 1'000'000}),
            (std::vector<double>{62.5, 125.0}));
}

TEST(PassTimingTest, KernelTimeAddsEveryBlockOfBothPhases) {
  // 0.125 GiB at 12.5 GiB/s takes 10 ms; at 6.25 GiB/s, 20 ms.
  const double kernel_ns = KernelNs({12.5f, 12.5f}, {6.25f, 6.25f});
  EXPECT_NEAR(kernel_ns, 60e6, 1);
  EXPECT_NEAR(*Efficiency({80'000'000, kernel_ns}), 0.75, 1e-9);
  // Kernels that took longer than the whole pass: a clock that runs fast.
  EXPECT_FALSE(Efficiency({50'000'000, kernel_ns}));
}

// The simulated GPU, which the tests reach through the loader.
cl::Device FirstDevice() {
  std::vector<cl::Platform> platforms;
  cl::Platform::get(&platforms);
  std::vector<cl::Device> devices;
  platforms.at(0).getDevices(CL_DEVICE_TYPE_ALL, &devices);
  return devices.at(0);
}

TEST(BenchDeviceTest, RoundsDoTheRealWorkAndTimeEveryCase) {
  KernelTiming timing(FirstDevice());
  for (int round = 0; round < 2; ++round) {
    for (const std::int64_t ns : timing.RunRound()) EXPECT_GT(ns, 0);
  }
  EXPECT_TRUE(timing.Clean());
}

TEST(BenchDeviceTest, TimesTheTestersOwnPasses) {
  const auto samples = TimePasses(FirstDevice(), 1, 1, 2);
  ASSERT_TRUE(samples);
  ASSERT_EQ(samples->size(), 2u);
  for (const PassSample& pass : *samples) {
    EXPECT_GT(pass.wall_ns, 0);
    EXPECT_TRUE(Efficiency(pass));
  }
}

}  // namespace
}  // namespace vramcheck::bench
