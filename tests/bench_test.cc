// The benchmark's options, statistics and report, and a short run on the
// simulated GPU.

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CL/opencl.hpp>
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "bench/kernel_timing.h"
#include "bench/options.h"
#include "bench/pass_timing.h"
#include "bench/report.h"
#include "bench/summary.h"
#include "test_engine/memory_tester.h"

namespace vramcheck::bench {
namespace {

bool Parse(std::vector<std::string_view> args, Options& options,
           std::string& error) {
  return ParseOptions(args, options, error);
}

TEST(ParseOptionsTest, ReadsEveryOptionAndKeepsDefaultsOtherwise) {
  Options options;
  std::string error;
  ASSERT_TRUE(Parse({}, options, error));
  EXPECT_EQ(options.reps, 15u);
  EXPECT_EQ(options.blocks, 2u);
  EXPECT_EQ(options.out, "vramcheck-bench.json");

  ASSERT_TRUE(Parse({"--platform", "1", "--device", "0", "--reps", "40",
                     "--blocks", "3", "--out", "/tmp/r.json"},
                    options, error))
      << error;
  EXPECT_EQ(options.platform, 1u);
  EXPECT_EQ(options.device, 0u);
  EXPECT_EQ(options.reps, 40u);
  EXPECT_EQ(options.blocks, 3u);
  EXPECT_EQ(options.out, "/tmp/r.json");
  EXPECT_FALSE(options.list);
}

TEST(ParseOptionsTest, RejectsWhatIsNotAWholeNumberInRange) {
  for (const std::vector<std::string_view>& args :
       std::vector<std::vector<std::string_view>>{{"--reps", "0"},
                                                  {"--blocks", "0"},
                                                  {"--reps", "-1"},
                                                  {"--reps", "+3"},
                                                  {"--reps", "3x"},
                                                  {"--reps", ""},
                                                  {"--device", "4294967296"},
                                                  {"--platform", " 1"},
                                                  {"--reps"},
                                                  {"--out"},
                                                  {"--repetitions", "3"},
                                                  {"3"}}) {
    Options options;
    std::string error;
    EXPECT_FALSE(Parse(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(options.reps, 15u) << "a rejected value must not be kept";
  }
}

TEST(SummaryTest, MedianOfOddAndEvenCountsWhateverTheOrder) {
  const auto odd = Summarize({5, 1, 3});
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->median, 3);
  EXPECT_EQ(odd->min, 1);
  EXPECT_EQ(odd->max, 5);
  EXPECT_EQ(odd->count, 3u);

  const auto even = Summarize({4, 1, 10, 2});
  ASSERT_TRUE(even);
  EXPECT_EQ(even->median, 3);
  EXPECT_FALSE(Summarize({}));
}

TEST(SummaryTest, LeavesOutZeroAndNegativeIntervals) {
  // A block moved in 1 ms is 125 GiB/s.
  EXPECT_DOUBLE_EQ(*GibPerSecond(kBlockSize, 1'000'000), 125.0);
  EXPECT_FALSE(GibPerSecond(kBlockSize, 0));
  EXPECT_FALSE(GibPerSecond(kBlockSize, -5));
  const std::vector<double> rates =
      UsableGibPerSecond(kBlockSize, {2'000'000, 0, -1, 1'000'000});
  EXPECT_EQ(rates, (std::vector<double>{62.5, 125.0}));
  EXPECT_FALSE(Ratio(1.0, 0.0));
  EXPECT_FALSE(Ratio(std::nullopt, 2.0));
}

TEST(PassTimingTest, KernelTimeAddsEveryBlockOfBothPhases) {
  // 0.125 GiB at 12.5 GiB/s takes 10 ms; at 6.25 GiB/s, 20 ms.
  const auto kernel_ns = KernelNs({12.5f, 12.5f}, {6.25f, 6.25f});
  ASSERT_TRUE(kernel_ns);
  EXPECT_NEAR(*kernel_ns, 60e6, 1);

  const PassSample pass = {80'000'000, kernel_ns};
  EXPECT_NEAR(*Efficiency(pass), 0.75, 1e-9);
  EXPECT_NEAR(*HostNsPerBlock(pass, 2), 10e6, 1);
}

TEST(PassTimingTest, InsaneProfilingIntervalsGiveNoFigures) {
  // The tester turns a zero interval into an infinite speed and an END
  // before START into a wrapped, huge one.
  const float from_zero = BlockBandwidth(0);
  const float from_wrapped = BlockBandwidth(static_cast<std::uint64_t>(-1000));
  EXPECT_FALSE(KernelNs({12.5f, from_zero}, {6.25f}));
  EXPECT_FALSE(KernelNs({12.5f}, {0.0f}));
  EXPECT_FALSE(KernelNs({std::numeric_limits<float>::quiet_NaN()}, {12.5f}));

  const PassSample wrapped = {80'000'000, KernelNs({from_wrapped}, {12.5f})};
  ASSERT_TRUE(wrapped.kernel_ns);
  EXPECT_FALSE(Efficiency(wrapped));
  EXPECT_FALSE(HostNsPerBlock(wrapped, 1));
  EXPECT_FALSE(Efficiency({80'000'000, std::nullopt}));
}

BenchResults TwoRepResults() {
  BenchResults results;
  results.device = "dev";
  results.reps = 2;
  results.blocks = 1;
  // Write takes twice as long as the plain store; one Read interval is bad.
  results.case_ns[kWrite] = {2'000'000, 2'000'000};
  results.case_ns[kPlainStore] = {1'000'000, 1'000'000};
  results.case_ns[kRead] = {4'000'000, 0};
  results.case_ns[kPlainLoad] = {1'000'000, 1'000'000};
  results.case_ns[kPermutedLoad] = {2'000'000, 2'000'000};
  results.case_ns[kFill] = {1'000'000, 1'000'000};
  results.case_ns[kCopy] = {2'000'000, 2'000'000};
  results.passes = {{10'000'000, 9'000'000.0}, {10'000'000, std::nullopt}};
  return results;
}

// The printed line that starts with `label`, or "" when none does.
std::string LineOf(const std::string& report, std::string_view label) {
  const std::size_t start = report.find(fmt::format("\n  {} ", label));
  if (start == std::string::npos) return "";
  return report.substr(start + 1, report.find('\n', start + 1) - start - 1);
}

TEST(ReportTest, RatiosComeFromMediansOfUsableRepetitions) {
  const std::string report = FormatReport(TwoRepResults());
  EXPECT_TRUE(LineOf(report, "Write / plain store").ends_with(" 50.0 %"))
      << report;
  EXPECT_TRUE(LineOf(report, "Read / plain load").ends_with(" 25.0 %"));
  EXPECT_TRUE(LineOf(report, "pass efficiency").ends_with(" 90.0 %"));
  EXPECT_TRUE(LineOf(report, "copy / plain load").ends_with(" 100.0 %"));
  EXPECT_TRUE(LineOf(report, "Read").ends_with("31.25     1/2"));
  EXPECT_NE(report.find("left out: 1 zero or negative profiling intervals, "
                        "1 passes"),
            std::string::npos);
}

TEST(ReportTest, JsonKeepsRawNumbersAndNullsWhatIsMissing) {
  const std::string json = FormatJson(TwoRepResults());
  EXPECT_NE(json.find(R"("read": {"bytes": 134217728, "elapsed_ns": )"
                      R"([4000000, 0], "gib_s": {"median": 31.25, )"
                      R"("min": 31.25, "max": 31.25, "count": 1}},)"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("kernel_ns": [9000000, null])"), std::string::npos);
  EXPECT_NE(json.find(R"("write_per_plain_store": 0.5,)"), std::string::npos);

  BenchResults empty;
  EXPECT_NE(FormatJson(empty).find(R"("write_per_plain_store": null)"),
            std::string::npos);
}

TEST(ReportTest, JsonStringEscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01 d"), R"("a\"b\\c\u000a\u0001 d")");
}

// The first device of the first platform that has one.
std::optional<cl::Device> FirstDevice() {
  std::vector<cl::Platform> platforms;
  try {
    cl::Platform::get(&platforms);
  } catch (const cl::Error&) {
    return std::nullopt;
  }
  for (const cl::Platform& platform : platforms) {
    std::vector<cl::Device> devices;
    platform.getDevices(CL_DEVICE_TYPE_ALL, &devices);
    if (!devices.empty()) return devices.front();
  }
  return std::nullopt;
}

TEST(DeviceTest, RoundsLeaveEveryCheckClean) {
  const std::optional<cl::Device> device = FirstDevice();
  if (!device) GTEST_SKIP() << "no OpenCL device";
  KernelTiming timing(*device);
  std::string failure;
  ASSERT_TRUE(timing.CheckRead(failure)) << failure;
  timing.RunRound();
  timing.RunRound();
  EXPECT_TRUE(timing.CheckRounds(failure)) << failure;
}

TEST(DeviceTest, TimedPassesFollowTheWarmUps) {
  const std::optional<cl::Device> device = FirstDevice();
  if (!device) GTEST_SKIP() << "no OpenCL device";
  std::vector<PassSample> samples;
  std::string failure;
  ASSERT_TRUE(TimePasses(*device, 1, 1, 2, samples, failure)) << failure;
  ASSERT_EQ(samples.size(), 2u);
  for (const PassSample& pass : samples) {
    EXPECT_GT(pass.wall_ns, 0);
    EXPECT_TRUE(pass.kernel_ns);
  }
}

}  // namespace
}  // namespace vramcheck::bench
