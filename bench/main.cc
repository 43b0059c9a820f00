// vramcheck_bench: measures on one OpenCL device how close the tester's
// Write and Read kernels come to a plain streaming store and load on the
// same block, and how much of a whole tester pass its kernels take.
//
//   vramcheck_bench [DEVICE | PLATFORM DEVICE]
//
// DEVICE alone is a device number of the tester's list, so that a benchmark
// pairs with the test of the same device. Without arguments it takes the
// first GPU of any platform, else the first device of the first platform.
// It prints the device's name on one line, then aligned columns: one row per
// figure with its median, minimum, maximum and number of usable samples,
// then the ratios of the medians in percent.

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CL/opencl.hpp>
#include <fmt/format.h>

#include "app/error_message.h"
#include "bench/kernel_timing.h"
#include "bench/pass_timing.h"
#include "bench/statistics.h"
#include "devices/device_discovery.h"
#include "test_engine/memory_tester.h"

namespace {

using vramcheck::bench::Case;
using vramcheck::bench::Spread;

// Untimed rounds and passes come first: they touch every page of the fresh
// blocks and let the clocks settle.
constexpr std::uint32_t kWarmups = 2;
constexpr std::uint32_t kReps = 25;
constexpr std::uint32_t kPassBlocks = 2;

int Fail(std::string_view message) {
  fmt::print(stderr, "vramcheck_bench: {}\n", message);
  return 1;
}

std::vector<cl::Device> Devices(const cl::Platform& platform,
                                cl_device_type type) {
  std::vector<cl::Device> devices;
  platform.getDevices(type, &devices);
  return devices;
}

// Parses a whole decimal number; nullopt for anything else.
std::optional<std::size_t> Index(std::string_view text) {
  std::size_t value = 0;
  const auto [end, status] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The first GPU of any platform, else the first device of the first one.
std::optional<cl::Device> DefaultDevice(
    const std::vector<cl::Platform>& platforms) {
  for (const cl::Platform& platform : platforms) {
    const auto gpus = Devices(platform, CL_DEVICE_TYPE_GPU);
    if (!gpus.empty()) return gpus[0];
  }
  if (platforms.empty()) return std::nullopt;
  const auto devices = Devices(platforms[0], CL_DEVICE_TYPE_ALL);
  if (devices.empty()) return std::nullopt;
  return devices[0];
}

// Device `device` of platform `platform`, counting devices of every type.
std::optional<cl::Device> NamedDevice(
    const std::vector<cl::Platform>& platforms, std::string_view platform,
    std::string_view device) {
  const auto p = Index(platform);
  const auto d = Index(device);
  if (!p || !d || *p >= platforms.size()) return std::nullopt;
  const auto devices = Devices(platforms[*p], CL_DEVICE_TYPE_ALL);
  if (*d >= devices.size()) return std::nullopt;
  return devices[*d];
}

// Device `number` of the tester's list.
std::optional<cl::Device> TestableDevice(std::string_view number) {
  std::vector<cl::Device> devices;
  vramcheck::FindTestableDevices(devices);
  const auto index = Index(number);
  if (!index || *index >= devices.size()) return std::nullopt;
  return devices[*index];
}

// The device the arguments name, or the default; nullopt after listing
// every device on standard error when there is no such device.
std::optional<cl::Device> ChooseDevice(int argc, char** argv) {
  std::vector<cl::Platform> platforms;
  cl::Platform::get(&platforms);
  std::optional<cl::Device> device;
  if (argc == 1) device = DefaultDevice(platforms);
  if (argc == 2) device = TestableDevice(argv[1]);
  if (argc == 3) device = NamedDevice(platforms, argv[1], argv[2]);
  if (device) return device;
  fmt::print(stderr, "usage: vramcheck_bench [DEVICE | PLATFORM DEVICE]\n");
  for (std::size_t i = 0; i < platforms.size(); ++i) {
    const auto devices = Devices(platforms[i], CL_DEVICE_TYPE_ALL);
    for (std::size_t j = 0; j < devices.size(); ++j) {
      fmt::print(stderr, "  {} {}: {}\n", i, j,
                 devices[j].getInfo<CL_DEVICE_NAME>());
    }
  }
  return std::nullopt;
}

// Prints one row and returns its median.
std::optional<double> Row(std::string_view name, std::vector<double> values) {
  const std::optional<Spread> spread =
      vramcheck::bench::Summarize(std::move(values));
  if (!spread) {
    fmt::print("{:<22}{:>10}{:>10}{:>10}{:>9}\n", name, "n/a", "n/a", "n/a", 0);
    return std::nullopt;
  }
  fmt::print("{:<22}{:>10.2f}{:>10.2f}{:>10.2f}{:>9}\n", name, spread->median,
             spread->min, spread->max, spread->count);
  return spread->median;
}

void Ratio(std::string_view name, std::optional<double> numerator,
           std::optional<double> denominator) {
  if (numerator && denominator && *denominator > 0) {
    fmt::print("{:<22}{:>10.1f}\n", name, *numerator / *denominator * 100);
  } else {
    fmt::print("{:<22}{:>10}\n", name, "n/a");
  }
}

// The device's name on one line: line ends and tabs become blanks.
std::string OneLineName(const cl::Device& device) {
  std::string name = device.getInfo<CL_DEVICE_NAME>();
  for (char& c : name) {
    if (c == '\n' || c == '\t') c = ' ';
  }
  return name;
}

int Bench(const cl::Device& device) {
  fmt::print("device: {} ({})\n", OneLineName(device),
             device.getInfo<CL_DRIVER_VERSION>());
  fmt::print("{} repetitions after {} warm-ups; passes over {} blocks\n\n",
             kReps, kWarmups, kPassBlocks);
  std::fflush(stdout);

  vramcheck::bench::KernelTiming timing(device);
  for (std::uint32_t i = 0; i < kWarmups; ++i) timing.RunRound();
  std::array<std::vector<std::int64_t>, vramcheck::bench::kCaseCount> case_ns;
  for (std::uint32_t i = 0; i < kReps; ++i) {
    const auto times = timing.RunRound();
    for (int c = 0; c < vramcheck::bench::kCaseCount; ++c) {
      case_ns[c].push_back(times[c]);
    }
  }
  if (!timing.Clean()) return Fail("a kernel saw a value it did not expect");
  const auto passes = vramcheck::bench::TimePasses(device, kPassBlocks,
                                                   kWarmups, kReps);
  if (!passes) return Fail("the tester's passes did not run clean");

  fmt::print("{:<22}{:>10}{:>10}{:>10}{:>9}\n", "figure", "median", "min",
             "max", "samples");
  std::array<std::optional<double>, vramcheck::bench::kCaseCount> gib_s;
  for (int c = 0; c < vramcheck::bench::kCaseCount; ++c) {
    gib_s[c] = Row(
        fmt::format("{}_gib_s", vramcheck::bench::kCaseNames[c].figure),
        vramcheck::bench::GibPerSecond(vramcheck::kBlockSize, case_ns[c]));
  }
  std::vector<double> wall_ms, efficiency, host_us;
  for (const vramcheck::bench::PassSample& pass : *passes) {
    wall_ms.push_back(static_cast<double>(pass.wall_ns) / 1e6);
    if (const auto share = vramcheck::bench::Efficiency(pass)) {
      efficiency.push_back(*share * 100);
      host_us.push_back((static_cast<double>(pass.wall_ns) - pass.kernel_ns) /
                        1e3 / kPassBlocks);
    }
  }
  Row("pass_wall_ms", wall_ms);
  const auto pass_efficiency = Row("pass_efficiency_pct", efficiency);
  Row("host_us_per_block", host_us);

  fmt::print("\n{:<22}{:>10}\n", "ratio", "pct");
  Ratio("write/plain_store", gib_s[Case::kWrite], gib_s[Case::kPlainStore]);
  Ratio("read/plain_load", gib_s[Case::kRead], gib_s[Case::kPlainLoad]);
  Ratio("read/permuted_load", gib_s[Case::kRead], gib_s[Case::kPermutedLoad]);
  Ratio("pass_efficiency", pass_efficiency, 100.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::optional<cl::Device> device = ChooseDevice(argc, argv);
    return device ? Bench(*device) : 2;
  } catch (...) {
    return Fail(vramcheck::DescribeException(std::current_exception()));
  }
}
