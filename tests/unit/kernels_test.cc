// The device test program run for real: the pattern that Write stores and
// the counts that Read adds.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <CL/opencl.hpp>
#include <fmt/format.h>

#include "kernels/device_program.h"
#include "pattern_reference.h"

namespace vramcheck {
namespace {

using reference::Element;
using reference::ReferenceReadElement;
using reference::ReferenceValue;

constexpr std::uint32_t kElements = kBlockSize / sizeof(Element);
constexpr std::uint32_t kFirstPass = 1048839;

class KernelsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::vector<cl::Platform> platforms;
    cl::Platform::get(&platforms);
    std::vector<cl::Device> devices;
    platforms.at(0).getDevices(CL_DEVICE_TYPE_ALL, &devices);
    context_ = new cl::Context(devices.at(0));
    queue_ = new cl::CommandQueue(*context_, devices.at(0));
    cl::Program program(*context_, std::string(kDeviceProgram), true);
    write_ = new cl::Kernel(program, "Write");
    read_ = new cl::Kernel(program, "Read");
    block_ = new cl::Buffer(*context_, CL_MEM_READ_WRITE, kBlockSize);
    counters_ = new cl::Buffer(*context_, CL_MEM_READ_WRITE, 8);
  }
  static void TearDownTestSuite() {
    delete counters_;
    delete block_;
    delete read_;
    delete write_;
    delete queue_;
    delete context_;
  }

  // Launches `kernel` over the work-items from `offset`, all of the block's
  // unless `global` says fewer, and waits for it.
  static void Launch(const cl::Kernel& kernel,
                     const cl::NDRange& offset = kLaunchOffset,
                     const cl::NDRange& global = kLaunchGlobal) {
    queue_->enqueueNDRangeKernel(kernel, offset, global, kLaunchLocal);
    queue_->finish();
  }
  static void WriteBlock(std::uint32_t calc_param) {
    write_->setArg(0, *block_);
    write_->setArg(1, calc_param);
    Launch(*write_);
  }
  // Runs Read from zeroed counters; returns {words, bits}. By default over
  // the whole block, else over the one work-group of 64 work-items whose
  // first id is `*first_id`.
  static std::vector<std::uint32_t> ReadBlock(
      std::uint32_t calc_param, std::uint32_t iter,
      std::optional<std::uint32_t> first_id = std::nullopt) {
    std::vector<std::uint32_t> counters = {0, 0};
    queue_->enqueueWriteBuffer(*counters_, CL_TRUE, 0, 8, counters.data());
    read_->setArg(0, *counters_);
    read_->setArg(1, *block_);
    read_->setArg(2, calc_param);
    read_->setArg(3, iter);
    if (first_id) {
      const std::size_t width = kLaunchGlobal[0];
      Launch(*read_, cl::NDRange(*first_id % width, *first_id / width, 0),
             kLaunchLocal);
    } else {
      Launch(*read_);
    }
    queue_->enqueueReadBuffer(*counters_, CL_TRUE, 0, 8, counters.data());
    return counters;
  }
  static std::vector<Element> Contents() {
    std::vector<Element> contents(kElements);
    queue_->enqueueReadBuffer(*block_, CL_TRUE, 0, kBlockSize, contents.data());
    return contents;
  }
  static void Store(std::uint32_t index, const Element& value) {
    queue_->enqueueWriteBuffer(*block_, CL_TRUE, index * sizeof(Element),
                               sizeof(Element), value.data());
  }

  static cl::Context* context_;
  static cl::CommandQueue* queue_;
  static cl::Kernel* write_;
  static cl::Kernel* read_;
  static cl::Buffer* block_;
  static cl::Buffer* counters_;
};

cl::Context* KernelsTest::context_;
cl::CommandQueue* KernelsTest::queue_;
cl::Kernel* KernelsTest::write_;
cl::Kernel* KernelsTest::read_;
cl::Buffer* KernelsTest::block_;
cl::Buffer* KernelsTest::counters_;

TEST_F(KernelsTest, WriteStoresTheWorkedValues) {
  struct Case {
    std::uint32_t calc_param, index;
    Element value;
  };
  const Case cases[] = {
      {0, 0, {0x00000002, 0xfffffffb, 0x55555553, 0x15555555}},
      {0, 1, {0x000000a0, 0x9fffffff, 0x555555b5, 0xaaaabaaa}},
      {0, 8, {0x00000084, 0xffffffdd, 0xaaaaaa89, 0x2aaaaaae}},
      {0, 0x7FFFFF, {0xa03fffff, 0xe000001f, 0xaaaab56a, 0x5d555555}},
      {kFirstPass, 0, {0x4c445445, 0x57756577, 0xfeefe4ee, 0x34220220}},
      {kFirstPass, 1, {0x54844544, 0x7756d775, 0xefeefe0e, 0xc2202203}},
  };
  for (std::uint32_t calc_param : {0u, kFirstPass}) {
    WriteBlock(calc_param);
    const std::vector<Element> contents = Contents();
    for (const Case& c : cases) {
      if (c.calc_param != calc_param) continue;
      EXPECT_EQ(contents[c.index], c.value)
          << "element " << c.index << ", calc_param " << calc_param;
      EXPECT_EQ(ReferenceValue(c.index, calc_param), c.value);
    }
  }
}

TEST_F(KernelsTest, WriteReplacesEveryElementWithThePattern) {
  // The last two wrap index * 4 + calc_param around 2^32.
  const std::vector<std::uint32_t> poison(kBlockSize / 4, 0xDEADBEEF);
  for (std::uint32_t calc_param : {kFirstPass * 2, 0xFFEFFEF9u, 0xFFFFFFF0u}) {
    queue_->enqueueWriteBuffer(*block_, CL_TRUE, 0, kBlockSize,
                               poison.data());
    WriteBlock(calc_param);
    const std::vector<Element> contents = Contents();
    std::uint32_t wrong = 0;
    for (std::uint32_t i = 0; i < kElements; ++i) {
      if (contents[i] != ReferenceValue(i, calc_param)) ++wrong;
    }
    EXPECT_EQ(wrong, 0u) << "calc_param " << calc_param;
  }
}

TEST_F(KernelsTest, ReadCountsNothingOnACleanBlock) {
  for (std::uint32_t iter : {1u, 2u, 4095u}) {
    const std::uint32_t calc_param = iter * kFirstPass;
    WriteBlock(calc_param);
    EXPECT_EQ(ReadBlock(calc_param, iter),
              (std::vector<std::uint32_t>{0, 0}));
  }
}

TEST_F(KernelsTest, ReadFindsEachFlippedBitExactlyOnce) {
  // First element, a middle granule, the last element of the block.
  for (std::uint32_t index : {0u, 0x2000u * 512 + 77, kElements - 1}) {
    for (std::uint32_t lane : {0u, 3u}) {
      WriteBlock(kFirstPass);
      Element value = ReferenceValue(index, kFirstPass);
      value[lane] ^= 1u << 17;
      Store(index, value);
      EXPECT_EQ(ReadBlock(kFirstPass, 1), (std::vector<std::uint32_t>{1, 1}))
          << "element " << index << ", lane " << lane;
    }
  }
}

TEST_F(KernelsTest, ReadCountsWordsAndBitsOfSeveralFaults) {
  WriteBlock(kFirstPass);
  Element inverted = ReferenceValue(5, kFirstPass);
  for (std::uint32_t& lane : inverted) lane = ~lane;
  Store(5, inverted);
  EXPECT_EQ(ReadBlock(kFirstPass, 1), (std::vector<std::uint32_t>{4, 128}));

  Element two_lanes = ReferenceValue(0x400000, kFirstPass);
  two_lanes[1] ^= 0x0000000F;
  two_lanes[2] ^= 0x80000000;
  Store(0x400000, two_lanes);
  EXPECT_EQ(ReadBlock(kFirstPass, 1), (std::vector<std::uint32_t>{6, 133}));
}

TEST_F(KernelsTest, ReadVisitsEveryElementExactlyOnce) {
  // Every element gets its own number of wrong bits, in one lane. An
  // element read twice and another skipped would change the bit total.
  for (std::uint32_t iter : {1u, 2u, 4095u}) {
    const std::uint32_t calc_param = iter * kFirstPass;
    std::vector<Element> contents(kElements);
    std::uint64_t total_bits = 0;
    for (std::uint32_t i = 0; i < kElements; ++i) {
      const std::uint32_t bits = 1 + ((i * 2654435761u) >> 27);  // 1 to 32
      contents[i] = ReferenceValue(i, calc_param);
      contents[i][i % 4] ^= bits == 32 ? ~0u : (1u << bits) - 1;
      total_bits += bits;
    }
    queue_->enqueueWriteBuffer(*block_, CL_TRUE, 0, kBlockSize,
                               contents.data());
    EXPECT_EQ(ReadBlock(calc_param, iter),
              (std::vector<std::uint32_t>{kElements,
                                          static_cast<std::uint32_t>(
                                              total_bits)}))
        << "pass " << iter;
  }
}

TEST(DeviceContractTest, ProgramAgreesWithTheHost) {
  const std::string source(kDeviceProgram);
  EXPECT_NE(source.find(fmt::format("#define TEST_WINDOW_1D_MAX_GROUPS {:#x}\n",
                                    kLaunchGlobal[0])),
            std::string::npos);
  // Both kernels, and nothing else, ask for the host's work-group size.
  const std::regex group(R"(reqd_work_group_size\((\d+), 1, 1\))");
  std::vector<std::string> sizes;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), group);
       it != std::sregex_iterator(); ++it) {
    sizes.push_back((*it)[1]);
  }
  EXPECT_EQ(sizes, std::vector<std::string>(2, std::to_string(kWorkGroupSize)));
  // One work-item per 16-byte element of a block.
  EXPECT_EQ(kLaunchGlobal[0] * kLaunchGlobal[1] * kLaunchGlobal[2] * 16,
            kBlockSize);
  EXPECT_EQ(kBlockGib * (1 << 30), kBlockSize);
}

TEST(ReadOrderTest, ReferenceGivesTheWorkedAddresses) {
  EXPECT_EQ(ReferenceReadElement(0, kFirstPass, 1), 0x4EEu);
  EXPECT_EQ(ReferenceReadElement(1, kFirstPass, 1), 0x4F9u);
  EXPECT_EQ(ReferenceReadElement(0x2000, kFirstPass, 1), 0x24F5u);
  EXPECT_EQ(ReferenceReadElement(0x7FFFFF, kFirstPass, 1), 0x7FE0DCu);
  EXPECT_EQ(ReferenceReadElement(0, kFirstPass * 2, 2), 0x9DCu);
}

TEST_F(KernelsTest, EachWorkItemReadsTheElementOfItsPass) {
  // One bit is flipped in each element that the reference says a work-group
  // reads; running that work-group alone must find all 64 and nothing else.
  // The read order changes with the pass number and the pattern parameter,
  // each on its own, so both are varied separately.
  struct Pass {
    std::uint32_t calc_param, iter;
  };
  for (const Pass pass : {Pass{kFirstPass, 1}, Pass{kFirstPass * 2, 2},
                          Pass{kFirstPass, 2}, Pass{kFirstPass * 2, 1}}) {
    WriteBlock(pass.calc_param);
    for (std::uint32_t first_id : {0u, 0x2000u * 300 + 64 * 77, kElements - 64}) {
      for (std::uint32_t id = first_id; id < first_id + 64; ++id) {
        const std::uint32_t element =
            ReferenceReadElement(id, pass.calc_param, pass.iter);
        Element value = ReferenceValue(element, pass.calc_param);
        value[id % 4] ^= 1u << (id % 32);
        Store(element, value);
      }
      EXPECT_EQ(ReadBlock(pass.calc_param, pass.iter, first_id),
                (std::vector<std::uint32_t>{64, 64}))
          << "work-items from " << first_id << ", calc_param "
          << pass.calc_param << ", iter " << pass.iter;
    }
  }
}

TEST_F(KernelsTest, ReadChecksAgainstThePassItIsGiven) {
  // A block written for pass 1 is wrong nearly everywhere for pass 2.
  WriteBlock(kFirstPass);
  const std::vector<std::uint32_t> counts = ReadBlock(kFirstPass * 2, 2);
  EXPECT_GT(counts[0], kElements * 3);
  EXPECT_GT(counts[1], counts[0]);
}

}  // namespace
}  // namespace vramcheck
