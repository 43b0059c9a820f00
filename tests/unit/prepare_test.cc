// MemoryTest construction, preparation and destruction on the simulated GPU.

#include <gtest/gtest.h>

#include <cstdint>
#include <stop_token>
#include <vector>

#include "sim_gpu_fixture.h"
#include "test_engine/memory_tester.h"

namespace vramcheck {
namespace {

using PrepareTest = test_support::SimGpuFixture;
using Lines = std::vector<std::string>;

TEST(MaxBlocksTest, LeavesRoomForTheCounters) {
  EXPECT_EQ(MaxBlocks(8ull << 30), 63u);
  EXPECT_EQ(MaxBlocks(64 * kBlockSize + 8), 64u);
  EXPECT_EQ(MaxBlocks(64 * kBlockSize + 7), 63u);
  EXPECT_EQ(MaxBlocks(kBlockSize), 0u);
  EXPECT_EQ(MaxBlocks(8), 0u);
  EXPECT_EQ(MaxBlocks(7), 0u);  // not a wrapped 2^37 - 1
  EXPECT_EQ(MaxBlocks(0), 0u);
}

TEST_F(PrepareTest, NoBlocksStillCreatesEverythingElse) {
  MemoryTest test(device_);
  std::uint64_t total = 99;
  ASSERT_TRUE(test.Prepare(total, 0));
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(Log("create"),
            (Lines{"create context", "create queue", "create program",
                   "create kernel Write", "create kernel Read",
                   "create buffer 8 flags 0x11"}));
  // The device program needs OpenCL C 2.0 as the build option.
  EXPECT_EQ(Log("build"), Lines{"build program -cl-std=CL2.0"});
  std::vector<std::uint32_t> words = {5}, bits = {5};
  std::vector<float> writes = {5}, reads = {5};
  EXPECT_TRUE(test.RunPass(words, bits, writes, reads, 1, std::stop_token()));
  EXPECT_TRUE(words.empty() && bits.empty() && writes.empty() && reads.empty());
}

TEST_F(PrepareTest, AcceptsUpToTheLimitAndRefusesMoreWithoutCreating) {
  Set("SIMGPU_DEVICE0_GLOBAL_MEM_SIZE", "0x18000008");
  {
    MemoryTest test(device_);
    std::uint64_t total = 99;
    EXPECT_FALSE(test.Prepare(total, 4));
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(Log("create"), Lines{});
    // A refused object may try again from scratch.
    EXPECT_TRUE(test.Prepare(total, 3));
    EXPECT_EQ(total, 3 * kBlockSize);
    EXPECT_EQ(Log("create block"),
              (Lines{"create block 0 flags 0x1", "create block 1 flags 0x1",
                     "create block 2 flags 0x1"}));
  }
  Set("SIMGPU_DEVICE0_GLOBAL_MEM_SIZE", "0x40000000");  // exactly 1 GiB
  MemoryTest test(device_);
  std::uint64_t total = 0;
  EXPECT_FALSE(test.Prepare(total, 8));
  EXPECT_TRUE(test.Prepare(total, 7));
  EXPECT_EQ(total, 7 * kBlockSize);
}

TEST_F(PrepareTest, SecondPrepareIsRefusedWithoutAnyCall) {
  MemoryTest test(device_);
  std::uint64_t total = 0;
  ASSERT_TRUE(test.Prepare(total, 1));
  const std::size_t calls = Log().size();
  total = 42;
  EXPECT_FALSE(test.Prepare(total, 1));
  EXPECT_EQ(total, 42u);
  EXPECT_EQ(Log().size(), calls);
}

TEST_F(PrepareTest, DestructionReleasesInOrder) {
  {
    MemoryTest unprepared(device_);
  }
  EXPECT_EQ(Log(), Lines{});
  {
    MemoryTest test(device_);
    std::uint64_t total = 0;
    ASSERT_TRUE(test.Prepare(total, 3));
    EXPECT_EQ(Log("release"), Lines{"release program"});
  }
  EXPECT_EQ(Log("release"),
            (Lines{"release program", "release block 0", "release block 1",
                   "release block 2", "release buffer 8",
                   "release kernel Read", "release kernel Write",
                   "release queue", "release context"}));
}

TEST_F(PrepareTest, FailedBlockReleasesEverythingCreated) {
  Set("SIMGPU_FAIL_BLOCK", "3");
  MemoryTest test(device_);
  std::uint64_t total = 99;
  try {
    test.Prepare(total, 4);
    FAIL() << "no exception";
  } catch (const cl::Error& e) {
    EXPECT_STREQ(e.what(), "clCreateBuffer");
    EXPECT_EQ(e.err(), CL_MEM_OBJECT_ALLOCATION_FAILURE);
  }
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(Log("create block").size(), 2u);
  EXPECT_EQ(Log("release"),
            (Lines{"release program", "release block 0", "release block 1",
                   "release buffer 8", "release kernel Read",
                   "release kernel Write", "release queue",
                   "release context"}));
  std::vector<std::uint32_t> words = {7}, bits;
  std::vector<float> writes, reads;
  EXPECT_FALSE(test.RunPass(words, bits, writes, reads, 1, std::stop_token()));
  EXPECT_EQ(words, std::vector<std::uint32_t>{7});

  unsetenv("SIMGPU_FAIL_BLOCK");
  EXPECT_TRUE(test.Prepare(total, 2));
  EXPECT_TRUE(test.RunPass(words, bits, writes, reads, 1, std::stop_token()));
  EXPECT_EQ(words, (std::vector<std::uint32_t>{0, 0}));
}

TEST_F(PrepareTest, BrokenBuildThrowsWithTheDeviceLog) {
  Set("SIMGPU_BREAK_BUILD", "1");
  MemoryTest test(device_);
  std::uint64_t total = 99;
  try {
    test.Prepare(total, 1);
    FAIL() << "no exception";
  } catch (const cl::BuildError& e) {
    EXPECT_STREQ(e.what(), "clBuildProgram");
    EXPECT_EQ(e.err(), CL_BUILD_PROGRAM_FAILURE);
    ASSERT_EQ(e.getBuildLog().size(), 1u);
    EXPECT_EQ(e.getBuildLog()[0].first(), device_());
    EXPECT_NE(e.getBuildLog()[0].second.find("error"), std::string::npos);
  }
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(Log("create kernel"), Lines{});
  EXPECT_EQ(Log("release"), (Lines{"release program", "release queue",
                                   "release context"}));
}

}  // namespace
}  // namespace vramcheck
