// Test passes on the simulated GPU, with faults injected by its driver.

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "pattern_reference.h"
#include "sim_gpu_fixture.h"
#include "test_engine/memory_tester.h"

namespace vramcheck {
namespace {

using Counts = std::vector<std::uint32_t>;

TEST(BlockBandwidthTest, ConvertsNanosecondsToGibPerSecond) {
  EXPECT_EQ(BlockBandwidth(10'000'000), 12.5f);
  EXPECT_EQ(BlockBandwidth(1'000'000'000), 0.125f);
  EXPECT_EQ(BlockBandwidth(0), std::numeric_limits<float>::infinity());
  EXPECT_GT(BlockBandwidth(1), 0.0f);
  EXPECT_TRUE(std::isfinite(BlockBandwidth(1)));
}

class RunPassTest : public test_support::SimGpuFixture {
 protected:
  void SetUp() override {
    SimGpuFixture::SetUp();
    test_ = std::make_unique<MemoryTest>(device_);
  }

  // Prepares `blocks` blocks; faults must be configured before.
  void Prepare(std::uint64_t blocks) {
    std::uint64_t total = 0;
    ASSERT_TRUE(test_->Prepare(total, blocks));
  }
  bool Pass(std::uint32_t iteration,
            const std::stop_token& token = std::stop_token()) {
    return test_->RunPass(words_, bits_, writes_, reads_, iteration, token);
  }
  bool AllEmpty() const {
    return words_.empty() && bits_.empty() && writes_.empty() &&
           reads_.empty();
  }

  std::unique_ptr<MemoryTest> test_;
  Counts words_, bits_;
  std::vector<float> writes_, reads_;
};

// The bandwidth of every launch of `kernel`, from the profiled times the
// driver logged.
std::vector<float> LoggedSpeeds(const std::vector<std::string>& log,
                                const std::string& kernel) {
  std::vector<float> speeds;
  const std::string prefix = "profile " + kernel + " ";
  for (const std::string& line : log) {
    if (line.starts_with(prefix)) {
      speeds.push_back(BlockBandwidth(std::stoull(line.substr(prefix.size()))));
    }
  }
  return speeds;
}

TEST_F(RunPassTest, CleanBlocksGiveZerosAndEachLaunchsOwnSpeed) {
  Prepare(3);
  for (std::uint32_t iteration = 1; iteration <= 3; ++iteration) {
    std::remove(LogPath().c_str());
    ASSERT_TRUE(Pass(iteration));
    EXPECT_EQ(words_, (Counts{0, 0, 0}));
    EXPECT_EQ(bits_, (Counts{0, 0, 0}));
    // END - START of the launch's own event, not START - END.
    EXPECT_EQ(writes_, LoggedSpeeds(Log("profile"), "Write"));
    EXPECT_EQ(reads_, LoggedSpeeds(Log("profile"), "Read"));
    ASSERT_EQ(reads_.size(), 3u);
    // On a GPU, zeros written through a mapping for reading alone need not
    // reach the device: every mapping of the counters writes.
    EXPECT_EQ(Log("map"), (std::vector<std::string>{
                              "map buffer 8 flags 0x2", "map buffer 8 flags 0x3",
                              "map buffer 8 flags 0x3", "map buffer 8 flags 0x3"}));
  }
}

TEST_F(RunPassTest, ImpossibleDeviceTimesGiveWayToTheHostClock) {
  Prepare(1);
  // START and END of a broken clock: the same, reversed, 1 ns apart (as on
  // Mesa 22's rusticl), 1 µs, and just under 4 µs for 128 MiB.
  for (const char* times : {"7,7", "9,2", "2,3", "0,1000", "0,3999"}) {
    Set("SIMGPU_DEVICE0_STUCK_CLOCK", times);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Pass(1));
    const std::chrono::nanoseconds pass_time =
        std::chrono::steady_clock::now() - start;
    for (const float speed : {writes_.at(0), reads_.at(0)}) {
      // Each launch took part of the pass on the host's clock.
      EXPECT_GE(speed, BlockBandwidth(pass_time.count())) << times;
      EXPECT_LT(speed, BlockBandwidth(4000)) << times;
    }
  }
  // 4 µs may still be true.
  Set("SIMGPU_DEVICE0_STUCK_CLOCK", "5000,9000");
  ASSERT_TRUE(Pass(1));
  EXPECT_EQ(writes_, std::vector<float>{BlockBandwidth(4000)});
  EXPECT_EQ(reads_, std::vector<float>{BlockBandwidth(4000)});
}

TEST_F(RunPassTest, FlippedBitIsCountedInItsBlockEveryPass) {
  Set("SIMGPU_BIT_FAULTS", "1:0x4004:0x00010000");
  Prepare(3);
  for (std::uint32_t iteration = 1; iteration <= 3; ++iteration) {
    ASSERT_TRUE(Pass(iteration));
    EXPECT_EQ(words_, (Counts{0, 1, 0})) << "pass " << iteration;
    EXPECT_EQ(bits_, (Counts{0, 1, 0})) << "pass " << iteration;
  }
}

TEST_F(RunPassTest, SeveralFaultsLandInTheirBlocks) {
  // Block 0: element 0 inverted whole, and one more bit further on.
  // Block 2: two bits in the block's very last word.
  Set("SIMGPU_BIT_FAULTS",
      "0:0:0xFFFFFFFF,0:4:0xFFFFFFFF,0:8:0xFFFFFFFF,0:12:0xFFFFFFFF,"
      "0:0x100000:0x80000000,2:0x7FFFFFC:0x00000003");
  Prepare(3);
  for (std::uint32_t iteration = 1; iteration <= 2; ++iteration) {
    ASSERT_TRUE(Pass(iteration));
    EXPECT_EQ(words_, (Counts{5, 0, 1}));
    EXPECT_EQ(bits_, (Counts{129, 0, 2}));
  }
}

TEST_F(RunPassTest, StuckBitsAreFoundWhenThePatternDisagrees) {
  // Element 0x1234, lane 2: bit 5 stuck at 1 and bit 30 stuck at 0.
  constexpr std::uint32_t kElement = 0x1234, kLane = 2;
  constexpr std::uint32_t kOnes = 1u << 5, kZeros = 1u << 30;
  Set("SIMGPU_STUCK_FAULTS", "1:" + std::to_string(kElement * 16 + kLane * 4) +
                                 ":" + std::to_string(kOnes) + ":" +
                                 std::to_string(kZeros));
  Prepare(2);
  int passes_with_errors = 0;
  for (std::uint32_t iteration = 1; iteration <= 12; ++iteration) {
    const std::uint32_t expected =
        reference::ReferenceValue(kElement, iteration * 1048839u)[kLane];
    const std::uint32_t stuck = (expected | kOnes) & ~kZeros;
    const std::uint32_t wrong_bits = std::popcount(stuck ^ expected);
    ASSERT_TRUE(Pass(iteration));
    EXPECT_EQ(words_, (Counts{0, wrong_bits != 0 ? 1u : 0u}))
        << "pass " << iteration;
    EXPECT_EQ(bits_, (Counts{0, wrong_bits})) << "pass " << iteration;
    passes_with_errors += wrong_bits != 0;
  }
  // The pattern must have agreed with the stuck bits on some passes and
  // disagreed on others, or the test proves little.
  EXPECT_GT(passes_with_errors, 0);
  EXPECT_LT(passes_with_errors, 12);
}

TEST_F(RunPassTest, KernelsGetThePassNumberAndItsPatternParameter) {
  Prepare(2);
  for (std::uint32_t iteration : {1u, 2u, 4095u}) {
    std::remove(LogPath().c_str());
    ASSERT_TRUE(Pass(iteration));
    const std::string calc_param = std::to_string(iteration * 1048839u);
    const std::string pass = std::to_string(iteration);
    EXPECT_EQ(Log("arg"),
              (std::vector<std::string>{
                  "arg Write 1 " + calc_param, "arg Write 1 " + calc_param,
                  "arg Read 2 " + calc_param, "arg Read 3 " + pass,
                  "arg Read 2 " + calc_param, "arg Read 3 " + pass}))
        << "pass " << iteration;
  }
}

TEST_F(RunPassTest, NotPreparedRefusesAndKeepsTheResults) {
  words_ = {1, 2};
  reads_ = {3.0f};
  EXPECT_FALSE(Pass(1));
  EXPECT_EQ(words_, (Counts{1, 2}));
  EXPECT_EQ(reads_, std::vector<float>{3.0f});
}

TEST_F(RunPassTest, StopRequestedBeforehandLaunchesNothing) {
  Prepare(2);
  ASSERT_TRUE(Pass(1));
  std::stop_source source;
  source.request_stop();
  const std::size_t launches = Log("launch").size();
  EXPECT_FALSE(Pass(2, source.get_token()));
  EXPECT_TRUE(AllEmpty());
  EXPECT_EQ(Log("launch").size(), launches);
}

// Requests a stop as soon as the driver logs a launch of `kernel`.
std::jthread StopOnLaunch(std::stop_source source, std::string log_path,
                          std::string kernel) {
  return std::jthread([=]() mutable {
    const std::string line = "launch " + kernel;
    for (;;) {
      std::ifstream file(log_path);
      for (std::string entry; std::getline(file, entry);) {
        if (entry == line) {
          source.request_stop();
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
}

TEST_F(RunPassTest, StopDuringAPassTakesEffectAtTheNextBlock) {
  Set("SIMGPU_BIT_FAULTS", "2:64:0x1");
  Prepare(4);
  for (const char* kernel : {"Write", "Read"}) {
    std::remove(LogPath().c_str());
    std::stop_source source;
    std::jthread stopper = StopOnLaunch(source, LogPath(), kernel);
    EXPECT_FALSE(Pass(1, source.get_token())) << kernel;
    EXPECT_TRUE(AllEmpty());
    stopper.join();
    // The pass after a stopped one is exact.
    ASSERT_TRUE(Pass(2));
    EXPECT_EQ(words_, (Counts{0, 0, 1, 0}));
    EXPECT_EQ(bits_, (Counts{0, 0, 1, 0}));
  }
}

TEST_F(RunPassTest, TokenWithoutSourceNeverStops) {
  Prepare(1);
  std::stop_token token;
  EXPECT_FALSE(token.stop_possible());
  EXPECT_TRUE(Pass(1, token));
  EXPECT_EQ(words_.size(), 1u);
}

}  // namespace
}  // namespace vramcheck
