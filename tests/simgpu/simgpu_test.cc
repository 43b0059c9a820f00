// Checks the simulated GPU platform through the OpenCL ICD loader.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <CL/cl_icd.h>
#include <CL/opencl.hpp>
#include <gtest/gtest.h>

#include "process_runner.h"
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

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// Runs simgpu_probe (see simgpu_probe.cc) in a fresh process, with the
// environment entries given.
vramcheck::test_support::ProcessResult RunProbe(
    const std::vector<std::string>& args,
    const std::vector<std::string>& environment) {
  std::vector<std::string> argv = {SIMGPU_PROBE};
  argv.insert(argv.end(), args.begin(), args.end());
  vramcheck::test_support::ProcessOptions options;
  options.environment = environment;
  options.timeout = std::chrono::seconds(30);
  return vramcheck::test_support::RunProcess(argv, options);
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

TEST(SimGpuDeviceTest, ReportsIdentityOnlyWhenConfigured) {
  const cl::Device device = Device2();
  cl_device_pci_bus_info_khr pci{};
  std::array<cl_uchar, CL_UUID_SIZE_KHR> uuid{};
  EXPECT_EQ(clGetDeviceInfo(device(), CL_DEVICE_PCI_BUS_INFO_KHR, sizeof(pci),
                            &pci, nullptr),
            CL_INVALID_VALUE);
  EXPECT_EQ(clGetDeviceInfo(device(), CL_DEVICE_UUID_KHR, uuid.size(),
                            uuid.data(), nullptr),
            CL_INVALID_VALUE);
  const std::string plain = device.getInfo<CL_DEVICE_EXTENSIONS>();
  EXPECT_EQ(plain.find("cl_khr_pci_bus_info"), std::string::npos);
  EXPECT_EQ(plain.find("cl_khr_device_uuid"), std::string::npos);

  const ScopedEnv bus("SIMGPU_DEVICE2_PCI_BUS", "0001:3b:1f.7");
  const ScopedEnv id("SIMGPU_DEVICE2_UUID", "00112233445566778899aAbBcCdDeEfF");
  EXPECT_EQ(device.getInfo<CL_DEVICE_EXTENSIONS>(),
            plain + " cl_khr_pci_bus_info cl_khr_device_uuid");
  size_t size = 0;
  ASSERT_EQ(clGetDeviceInfo(device(), CL_DEVICE_PCI_BUS_INFO_KHR, sizeof(pci),
                            &pci, &size),
            CL_SUCCESS);
  EXPECT_EQ(size, sizeof(pci));
  EXPECT_EQ(pci.pci_domain, 1u);
  EXPECT_EQ(pci.pci_bus, 0x3bu);
  EXPECT_EQ(pci.pci_device, 0x1fu);
  EXPECT_EQ(pci.pci_function, 7u);
  ASSERT_EQ(clGetDeviceInfo(device(), CL_DEVICE_UUID_KHR, uuid.size(),
                            uuid.data(), &size),
            CL_SUCCESS);
  EXPECT_EQ(size, size_t{CL_UUID_SIZE_KHR});
  EXPECT_EQ(uuid, (std::array<cl_uchar, CL_UUID_SIZE_KHR>{
                      0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                      0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}));
  {
    // Explicit extensions are exact.
    const ScopedEnv extensions("SIMGPU_DEVICE2_EXTENSIONS", "cl_khr_fp64");
    EXPECT_EQ(device.getInfo<CL_DEVICE_EXTENSIONS>(), "cl_khr_fp64");
  }
  for (const char* malformed :
       {"3b:00.0", "0000:3b:20.0", "0000:3b:00.8", "0000:13b:00.0",
        "0x00:3b:00.0", "0000:3b:00", "0000:3b:00.0 "}) {
    const ScopedEnv bad_bus("SIMGPU_DEVICE2_PCI_BUS", malformed);
    EXPECT_EQ(clGetDeviceInfo(device(), CL_DEVICE_PCI_BUS_INFO_KHR, sizeof(pci),
                              &pci, nullptr),
              CL_INVALID_VALUE)
        << malformed;
    EXPECT_EQ(
        device.getInfo<CL_DEVICE_EXTENSIONS>().find("cl_khr_pci_bus_info"),
        std::string::npos)
        << malformed;
  }
  for (const char* malformed :
       {"00112233445566778899aabbccddeef", "00112233445566778899aabbccddeeff0",
        "0011223344556677-8899aabbccddeef",
        "0x112233445566778899aabbccddeeff"}) {
    const ScopedEnv bad_id("SIMGPU_DEVICE2_UUID", malformed);
    EXPECT_EQ(clGetDeviceInfo(device(), CL_DEVICE_UUID_KHR, uuid.size(),
                              uuid.data(), nullptr),
              CL_INVALID_VALUE)
        << malformed;
  }
}

TEST(SimGpuConfigFileTest, FileOverridesEnvironmentAndIsReadAfresh) {
  const vramcheck::test_support::TempFolder folder;
  const std::string path = folder.File("simgpu.conf");
  const cl::Device device = Device2();
  const ScopedEnv config("SIMGPU_CONFIG_FILE", path);
  const ScopedEnv name("SIMGPU_DEVICE2_NAME", "From environment");
  EXPECT_EQ(device.getInfo<CL_DEVICE_NAME>(), "From environment");
  WriteFile(path,
            "\nSIMGPU_DEVICE2_NAME=From file  \n\n"
            "SIMGPU_DEVICE2_MAX_WORK_GROUP_SIZE=64\n");
  EXPECT_EQ(device.getInfo<CL_DEVICE_NAME>(), "From file  ");
  EXPECT_EQ(device.getInfo<CL_DEVICE_MAX_WORK_GROUP_SIZE>(), 64u);
  WriteFile(path, "SIMGPU_DEVICE2_NAME=First\nSIMGPU_DEVICE2_NAME=Last=1");
  EXPECT_EQ(device.getInfo<CL_DEVICE_NAME>(), "Last=1");
  EXPECT_EQ(device.getInfo<CL_DEVICE_MAX_WORK_GROUP_SIZE>(), 1024u);
  std::remove(path.c_str());
  EXPECT_EQ(device.getInfo<CL_DEVICE_NAME>(), "From environment");
}

TEST(SimGpuConfigFileTest, LaterProcessSeesChangedDevices) {
  const vramcheck::test_support::TempFolder folder;
  const std::string path = folder.File("simgpu.conf");
  const std::vector<std::string> environment = {"SIMGPU_PLATFORMS=3",
                                                "SIMGPU_CONFIG_FILE=" + path};
  auto listed = RunProbe({"list"}, environment);
  EXPECT_EQ(listed.out, "0 Simulated GPU\n1 Simulated GPU\n2 Simulated GPU\n")
      << listed.err;
  WriteFile(path, "SIMGPU_PLATFORMS=2\nSIMGPU_DEVICE1_NAME=Other card\n");
  listed = RunProbe({"list"}, environment);
  EXPECT_EQ(listed.out, "0 Simulated GPU\n1 Other card\n") << listed.err;
  EXPECT_EQ(listed.exit_status, 0);
}

// A hung launch never completes, nor does anything after it on its queue:
// the probe's wait for the launches does not return.
TEST(SimGpuHangTest, HungLaunchBlocksWaitsWithoutSpinning) {
  const std::vector<std::string> environment = {"SIMGPU_PLATFORMS=2",
                                                "SIMGPU_HANG_LAUNCH=Read:2"};
  for (const char* wait : {"finish", "event"}) {
    const auto hung = RunProbe({"launch", "0", "3", wait}, environment);
    EXPECT_EQ(hung.out, "hung after 1 launches, idle\n") << wait << hung.err;
    EXPECT_EQ(hung.exit_status, 3) << wait;
  }
  const std::vector<std::string> on_device1 = {
      "SIMGPU_PLATFORMS=2", "SIMGPU_DEVICE1_HANG_LAUNCH=Read:3"};
  auto run = RunProbe({"launch", "1", "3", "event"}, on_device1);
  EXPECT_EQ(run.out, "hung after 2 launches, idle\n") << run.err;
  run = RunProbe({"launch", "0", "3", "event"}, on_device1);
  EXPECT_EQ(run.out, "finished\n") << run.err;
  EXPECT_EQ(run.exit_status, 0);
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

  // Launches `name` on a small buffer and waits: the launch's status.
  cl_int LaunchSmall(const char* name, const cl::CommandQueue& queue) {
    const cl::Buffer buffer(context_, CL_MEM_READ_WRITE, 64);
    cl::Kernel kernel(program_, name);
    kernel.setArg(0, buffer);
    if (std::string(name) == "Write") kernel.setArg(1, kPattern);
    const size_t size = 16;
    const cl_int status = clEnqueueNDRangeKernel(
        queue(), kernel(), 1, nullptr, &size, nullptr, 0, nullptr, nullptr);
    queue.finish();
    return status;
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

// Launches of each kernel are counted on each queue, failed ones too.
TEST_F(SimGpuMemoryTest, FailsConfiguredLaunchOfEachQueue) {
  {
    const ScopedEnv fail("SIMGPU_FAIL_LAUNCH", "Read");
    EXPECT_EQ(LaunchSmall("Read", queue_), CL_OUT_OF_RESOURCES);
    EXPECT_EQ(LaunchSmall("Read", queue_), CL_SUCCESS);
  }
  {
    const ScopedEnv fail("SIMGPU_FAIL_LAUNCH", "Write:3");
    EXPECT_EQ(LaunchSmall("Write", queue_), CL_SUCCESS);
    EXPECT_EQ(LaunchSmall("Write", queue_), CL_SUCCESS);
    EXPECT_EQ(LaunchSmall("Read", queue_), CL_SUCCESS);
    EXPECT_EQ(LaunchSmall("Write", queue_), CL_OUT_OF_RESOURCES);
    EXPECT_EQ(LaunchSmall("Write", queue_), CL_SUCCESS);
    const cl::CommandQueue other(context_, device_);
    EXPECT_EQ(LaunchSmall("Write", other), CL_SUCCESS);
    EXPECT_EQ(LaunchSmall("Write", other), CL_SUCCESS);
    EXPECT_EQ(LaunchSmall("Write", other), CL_OUT_OF_RESOURCES);
  }
  {
    const ScopedEnv elsewhere("SIMGPU_DEVICE0_FAIL_LAUNCH", "Read:4");
    const ScopedEnv here("SIMGPU_DEVICE2_FAIL_LAUNCH", "Read:5");
    EXPECT_EQ(LaunchSmall("Read", queue_), CL_SUCCESS);
    EXPECT_EQ(LaunchSmall("Read", queue_), CL_OUT_OF_RESOURCES);
    EXPECT_EQ(LaunchSmall("Read", queue_), CL_SUCCESS);
  }
  for (const char* malformed : {"Read:0", "Read:x", ":6", "Read:6:1"}) {
    const ScopedEnv fail("SIMGPU_FAIL_LAUNCH", malformed);
    EXPECT_EQ(LaunchSmall("Read", queue_), CL_SUCCESS) << malformed;
  }
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
