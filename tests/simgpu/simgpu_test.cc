// Checks the simulated GPU platform through the OpenCL ICD loader.

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <CL/cl_icd.h>
#include <CL/opencl.hpp>
#include <gtest/gtest.h>

#include "temp_folder.h"

namespace {

constexpr size_t kBlockSize = 0x8000000;
constexpr cl_uint kPattern = 0xA5A5A5A5;
constexpr char kSource[] =
    "kernel void Write(global uint* block, uint value) {\n"
    "  block[get_global_id(0)] = value;\n"
    "}\n"
    "kernel void Read(global const uint* block) {}\n";

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

// Two platforms: devices 0 and 1 on the first, device 2 on the second.
const std::vector<cl::Platform>& Platforms() {
  static const auto* const platforms = [] {
    setenv("SIMGPU_PLATFORMS", "2,1", 1);
    auto* found = new std::vector<cl::Platform>;
    cl::Platform::get(found);
    return found;
  }();
  return *platforms;
}

cl::Device Device2() {
  std::vector<cl::Device> devices;
  Platforms().at(1).getDevices(CL_DEVICE_TYPE_GPU, &devices);
  return devices.at(0);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

TEST(SimGpuPlatformTest, PresentsConfiguredTopology) {
  ASSERT_EQ(Platforms().size(), 2u);
  const size_t expected_devices[] = {2, 1};
  for (size_t p = 0; p < 2; ++p) {
    const cl::Platform& platform = Platforms()[p];
    EXPECT_EQ(platform.getInfo<CL_PLATFORM_NAME>(), "Simulated GPU Platform");
    EXPECT_EQ(platform.getInfo<CL_PLATFORM_VENDOR>(), "vramcheck tests");
    std::vector<cl::Device> devices;
    platform.getDevices(CL_DEVICE_TYPE_ALL, &devices);
    ASSERT_EQ(devices.size(), expected_devices[p]);
    for (const cl::Device& device : devices) {
      EXPECT_EQ(device.getInfo<CL_DEVICE_TYPE>(), CL_DEVICE_TYPE_GPU);
      // A handle in older bindings, a cl::Platform in newer ones.
      EXPECT_EQ(cl::Platform(device.getInfo<CL_DEVICE_PLATFORM>())(),
                platform());
    }
    cl_uint count = 7;
    EXPECT_EQ(
        clGetDeviceIDs(platform(), CL_DEVICE_TYPE_CPU, 0, nullptr, &count),
        CL_DEVICE_NOT_FOUND);
    EXPECT_EQ(count, 0u);
  }
}

TEST(SimGpuPlatformTest, UnimplementedEntriesFailCleanly) {
  auto* const* table =
      *reinterpret_cast<void* const* const*>(Platforms().at(0)());
  for (size_t i = 0; i < sizeof(cl_icd_dispatch) / sizeof(void*); ++i) {
    EXPECT_NE(table[i], nullptr) << "dispatch entry " << i;
  }
  cl::Context context(Device2());
  cl_int status = CL_SUCCESS;
  EXPECT_EQ(clCreateSampler(context(), CL_FALSE, CL_ADDRESS_NONE,
                            CL_FILTER_NEAREST, &status),
            nullptr);
  EXPECT_EQ(status, CL_INVALID_OPERATION);
}

TEST(SimGpuDeviceTest, ReportsDefaultsAndConfiguredValues) {
  const cl::Device device = Device2();
  EXPECT_EQ(device.getInfo<CL_DEVICE_NAME>(), "Simulated GPU");
  EXPECT_EQ(device.getInfo<CL_DEVICE_MAX_WORK_ITEM_SIZES>(),
            (std::vector<size_t>{1024, 1024, 1024}));
  EXPECT_EQ(device.getInfo<CL_DEVICE_MAX_MEM_ALLOC_SIZE>(), 268435456u);
  EXPECT_EQ(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>(), 1073741832u);
  EXPECT_NE(device.getInfo<CL_DEVICE_EXTENSIONS>().find(
                "cl_khr_global_int32_base_atomics"),
            std::string::npos);

  const ScopedEnv name("SIMGPU_DEVICE2_NAME", "Card 7  ");
  const ScopedEnv group("SIMGPU_DEVICE2_MAX_WORK_GROUP_SIZE", "0x100");
  const ScopedEnv sizes("SIMGPU_DEVICE2_MAX_WORK_ITEM_SIZES", "");
  const ScopedEnv available("SIMGPU_DEVICE2_AVAILABLE", "7");
  const ScopedEnv extensions("SIMGPU_DEVICE2_EXTENSIONS", "");
  EXPECT_EQ(device.getInfo<CL_DEVICE_NAME>(), "Card 7  ");
  EXPECT_EQ(device.getInfo<CL_DEVICE_MAX_WORK_GROUP_SIZE>(), 256u);
  size_t size = 99;
  EXPECT_EQ(clGetDeviceInfo(device(), CL_DEVICE_MAX_WORK_ITEM_SIZES, 0, nullptr,
                            &size),
            CL_SUCCESS);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(device.getInfo<CL_DEVICE_AVAILABLE>(), 7u);
  EXPECT_EQ(device.getInfo<CL_DEVICE_EXTENSIONS>(), "");
}

TEST(SimGpuDeviceTest, GlobalMemSizeChangesAfterFirstQuery) {
  const cl::Device device = Device2();
  const ScopedEnv mem("SIMGPU_DEVICE2_GLOBAL_MEM_SIZE", "100,50");
  EXPECT_EQ(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>(), 100u);
  EXPECT_EQ(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>(), 50u);
  EXPECT_EQ(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>(), 50u);
  const ScopedEnv changed("SIMGPU_DEVICE2_GLOBAL_MEM_SIZE", "0x200,60");
  EXPECT_EQ(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>(), 0x200u);
  EXPECT_EQ(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>(), 60u);
}

TEST(SimGpuDeviceTest, FailsConfiguredQueryAndChecksSizes) {
  const cl::Device device = Device2();
  const ScopedEnv fail("SIMGPU_DEVICE2_FAIL_QUERY", "EXTENSIONS=-30");
  size_t size = 0;
  EXPECT_EQ(clGetDeviceInfo(device(), CL_DEVICE_EXTENSIONS, 0, nullptr, &size),
            -30);
  char name[4];
  EXPECT_EQ(
      clGetDeviceInfo(device(), CL_DEVICE_NAME, sizeof(name), name, &size),
      CL_INVALID_VALUE);
  EXPECT_EQ(size, sizeof("Simulated GPU"));
}

class SimGpuMemoryTest : public ::testing::Test {
 protected:
  SimGpuMemoryTest()
      : device_(Device2()),
        context_(device_),
        queue_(context_, device_, CL_QUEUE_PROFILING_ENABLE),
        program_(context_, kSource) {
    program_.build("-cl-std=CL2.0");
  }

  void Run(const char* name, const cl::Buffer& block) {
    cl::Kernel kernel(program_, name);
    kernel.setArg(0, block);
    if (std::string(name) == "Write") kernel.setArg(1, kPattern);
    queue_.enqueueNDRangeKernel(kernel, cl::NullRange,
                                cl::NDRange(kBlockSize / sizeof(cl_uint)));
    queue_.finish();
  }

  std::vector<cl_uint> Words(const cl::Buffer& block) {
    std::vector<cl_uint> words(64);
    queue_.enqueueReadBuffer(block, CL_TRUE, 0, words.size() * 4, words.data());
    return words;
  }

  cl::Device device_;
  cl::Context context_;
  cl::CommandQueue queue_;
  cl::Program program_;
};

TEST_F(SimGpuMemoryTest, InjectsBitFaultsOncePerPassAndStuckBitsAlways) {
  const ScopedEnv bits("SIMGPU_BIT_FAULTS", "0:64:0x1,3:0:0x1");
  const ScopedEnv stuck("SIMGPU_STUCK_FAULTS", "0:128:0x2:0x1");
  const cl::Buffer small(context_, CL_MEM_READ_WRITE, 4096);
  const cl::Buffer block(context_, CL_MEM_READ_WRITE, kBlockSize);
  Run("Write", block);
  EXPECT_EQ(Words(block)[16], kPattern);
  Run("Read", block);
  std::vector<cl_uint> words = Words(block);
  EXPECT_EQ(words[0], kPattern);
  EXPECT_EQ(words[16], kPattern ^ 0x1);
  EXPECT_EQ(words[32], 0xA5A5A5A6);
  // A second Read flips nothing, yet still forces the stuck bits.
  queue_.enqueueWriteBuffer(block, CL_TRUE, 128, sizeof(kPattern), &kPattern);
  Run("Read", block);
  words = Words(block);
  EXPECT_EQ(words[16], kPattern ^ 0x1);
  EXPECT_EQ(words[32], 0xA5A5A5A6);
  Run("Write", block);
  Run("Read", block);
  words = Words(block);
  EXPECT_EQ(words[16], kPattern ^ 0x1);
  EXPECT_EQ(words[32], 0xA5A5A5A6);
}

TEST_F(SimGpuMemoryTest, BrokenBuildFailsWithLog) {
  const ScopedEnv broken("SIMGPU_BREAK_BUILD", "1");
  cl::Program program(context_, kSource);
  const cl::Device device = program.getInfo<CL_PROGRAM_DEVICES>().at(0);
  EXPECT_EQ(program.getBuildInfo<CL_PROGRAM_BUILD_LOG>(device), "");
  EXPECT_EQ(
      clBuildProgram(program(), 0, nullptr, "-cl-std=CL2.0", nullptr, nullptr),
      CL_BUILD_PROGRAM_FAILURE);
  EXPECT_NE(program.getBuildInfo<CL_PROGRAM_BUILD_LOG>(device), "");
}

TEST(SimGpuLogTest, RecordsLifetimesAndFailsConfiguredBlock) {
  const vramcheck::test_support::TempFolder folder;
  const std::string log = folder.File("simgpu.log");
  const ScopedEnv logging("SIMGPU_LOG", log);
  const ScopedEnv fail("SIMGPU_FAIL_BLOCK", "2");
  const cl::Device device = Device2();
  {
    cl::Context context(device);
    cl::CommandQueue queue(context, device);
    cl::Program program(context, kSource);
    program.build();
    cl::Kernel write(program, "Write");
    const cl::Buffer first(context, CL_MEM_READ_WRITE, kBlockSize);
    cl_int status = CL_SUCCESS;
    EXPECT_EQ(clCreateBuffer(context(), CL_MEM_READ_WRITE, kBlockSize, nullptr,
                             &status),
              nullptr);
    EXPECT_EQ(status, CL_MEM_OBJECT_ALLOCATION_FAILURE);
    const cl::Buffer second(context, CL_MEM_READ_WRITE, kBlockSize);
    const cl::Buffer other(context, CL_MEM_READ_WRITE, 64);
    write.setArg(0, other);
    write.setArg(1, kPattern);
    queue.enqueueNDRangeKernel(write, cl::NullRange, cl::NDRange(16));
    queue.finish();
    device.getInfo<CL_DEVICE_MAX_MEM_ALLOC_SIZE>();
  }
  EXPECT_EQ(ReadLines(log),
            (std::vector<std::string>{
                "create context", "create queue", "create program",
                "build program", "create kernel Write",
                "create block 0 flags 0x1", "create block 1 flags 0x1",
                "create buffer 64 flags 0x1",
                "arg Write 1 " + std::to_string(kPattern), "launch Write",
                "query 2 MAX_MEM_ALLOC_SIZE", "release buffer 64",
                "release block 1", "release block 0", "release kernel Write",
                "release program", "release queue", "release context"}));
}

}  // namespace
