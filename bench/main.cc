// vramcheck_bench: measures on one OpenCL device how close the tester's
// Write and Read kernels come to a plain streaming store and load, with the
// driver's fill and copy for reference, and how much of a tester pass the
// kernels take. Prints a table and writes the raw numbers to a JSON file.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CL/opencl.hpp>
#include <fmt/chrono.h>
#include <fmt/format.h>

#include "app/error_message.h"
#include "bench/kernel_timing.h"
#include "bench/options.h"
#include "bench/pass_timing.h"
#include "bench/report.h"
#include "test_engine/memory_tester.h"

namespace {

using vramcheck::bench::BenchResults;
using vramcheck::bench::Options;

// Untimed rounds and passes first: they touch every page of the fresh
// blocks and let the clocks settle.
constexpr std::uint32_t kWarmups = 2;

std::string DeviceTypeName(cl_device_type type) {
  const std::pair<cl_device_type, const char*> kTypes[] = {
      {CL_DEVICE_TYPE_CPU, "CPU"},
      {CL_DEVICE_TYPE_GPU, "GPU"},
      {CL_DEVICE_TYPE_ACCELERATOR, "ACCELERATOR"}};
  std::string name;
  for (const auto& [bit, label] : kTypes) {
    if ((type & bit) == 0) continue;
    if (!name.empty()) name += '+';
    name += label;
  }
  return name.empty() ? "OTHER" : name;
}

std::vector<cl::Device> AllDevices(const cl::Platform& platform) {
  std::vector<cl::Device> devices;
  platform.getDevices(CL_DEVICE_TYPE_ALL, &devices);
  return devices;
}

// One line per platform, then "P D TYPE NAME" for each of its devices.
int ListDevices() {
  std::vector<cl::Platform> platforms;
  cl::Platform::get(&platforms);
  for (std::size_t p = 0; p < platforms.size(); ++p) {
    fmt::print("platform {}: {}\n", p,
               platforms[p].getInfo<CL_PLATFORM_NAME>());
    const std::vector<cl::Device> devices = AllDevices(platforms[p]);
    for (std::size_t d = 0; d < devices.size(); ++d) {
      fmt::print("  {} {} {} {}\n", p, d,
                 DeviceTypeName(devices[d].getInfo<CL_DEVICE_TYPE>()),
                 devices[d].getInfo<CL_DEVICE_NAME>());
    }
  }
  return 0;
}

int Fail(std::string_view message) {
  fmt::print(stderr, "vramcheck_bench: {}\n", message);
  return 1;
}

std::string UtcNow() {
  return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}",
                     fmt::gmtime(std::chrono::system_clock::to_time_t(
                         std::chrono::system_clock::now())));
}

bool MeasureKernels(const cl::Device& device, BenchResults& results,
                    std::string& failure) {
  vramcheck::bench::KernelTiming timing(device);
  if (!timing.CheckRead(failure)) return false;
  for (std::uint32_t i = 0; i < kWarmups; ++i) timing.RunRound();
  for (std::uint32_t i = 0; i < results.reps; ++i) {
    const vramcheck::bench::RoundTimes times = timing.RunRound();
    for (int c = 0; c < vramcheck::bench::kCaseCount; ++c) {
      results.case_ns[c].push_back(times[c]);
    }
  }
  return timing.CheckRounds(failure);
}

// Finds the device `options` name and checks that it can hold the blocks.
bool SelectDevice(const Options& options, cl::Platform& platform,
                  cl::Device& device, std::string& failure) {
  std::vector<cl::Platform> platforms;
  cl::Platform::get(&platforms);
  if (options.platform >= platforms.size()) {
    failure =
        fmt::format("no platform {}; --list shows them", options.platform);
    return false;
  }
  platform = platforms[options.platform];
  const std::vector<cl::Device> devices = AllDevices(platform);
  if (options.device >= devices.size()) {
    failure = fmt::format("platform {} has no device {}; --list shows them",
                          options.platform, options.device);
    return false;
  }
  device = devices[options.device];
  if (vramcheck::MaxBlocks(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>()) <
      options.blocks) {
    failure = fmt::format("the device cannot hold {} blocks of 128 MiB",
                          options.blocks);
    return false;
  }
  return true;
}

int Bench(const Options& options) {
  cl::Platform platform;
  cl::Device device;
  std::string failure;
  if (!SelectDevice(options, platform, device, failure)) return Fail(failure);
  // Opened first so that an unwritable path costs no measuring.
  std::ofstream out(options.out);
  if (!out) return Fail(fmt::format("cannot write {}", options.out));

  BenchResults results;
  results.platform = platform.getInfo<CL_PLATFORM_NAME>();
  results.device = device.getInfo<CL_DEVICE_NAME>();
  results.driver = device.getInfo<CL_DRIVER_VERSION>();
  results.started = UtcNow();
  results.warmups = kWarmups;
  results.reps = options.reps;
  results.blocks = options.blocks;
  fmt::print("vramcheck_bench run of {}\n", results.started);
  fmt::print("device {}.{}: {} ({}, driver {})\n", options.platform,
             options.device, results.device, results.platform, results.driver);
  fmt::print("{} timed repetitions after {} warm-ups; passes over {} blocks\n",
             results.reps, kWarmups, results.blocks);

  fmt::print("timing the kernels, the fill and the copy...\n");
  std::fflush(stdout);
  if (!MeasureKernels(device, results, failure)) return Fail(failure);
  fmt::print("timing tester passes...\n\n");
  std::fflush(stdout);
  if (!vramcheck::bench::TimePasses(device, results.blocks, kWarmups,
                                    results.reps, results.passes, failure)) {
    return Fail(failure);
  }

  fmt::print("{}", vramcheck::bench::FormatReport(results));
  out << vramcheck::bench::FormatJson(results);
  out.close();
  if (!out) return Fail(fmt::format("cannot write {}", options.out));
  fmt::print("\nraw numbers written to {}\n", options.out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  Options options;
  std::string error;
  if (!vramcheck::bench::ParseOptions(args, options, error)) {
    fmt::print(stderr, "vramcheck_bench: {}\n{}", error,
               vramcheck::bench::kUsage);
    return 2;
  }
  if (options.help) {
    fmt::print("{}", vramcheck::bench::kUsage);
    return 0;
  }
  try {
    return options.list ? ListDevices() : Bench(options);
  } catch (...) {
    return Fail(vramcheck::DescribeException(std::current_exception()));
  }
}
