// vramcheck: tests the memory of a GPU through OpenCL. Asks for a device and
// a number of 128 MiB blocks, then writes and verifies the blocks pass after
// pass, keeping one status line with the bandwidth and the errors found.

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include <CL/opencl.hpp>

#include "app/console.h"
#include "app/error_message.h"
#include "app/line_tracker.h"
#include "app/opencl_library.h"
#include "app/status_report.h"
#include "devices/device_discovery.h"
#include "test_engine/memory_tester.h"

namespace {

using vramcheck::MemoryTest;

// Reads one signed 32-bit number from standard input. False when none could
// be read: text that is not a number, a number out of range, end of input.
bool ReadNumber(std::int32_t& value) {
  return static_cast<bool>(std::cin >> value);
}

int Fail(const char* line) {
  std::cerr << line << std::endl;
  return 1;
}

std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Prepares `block_count` blocks on `device` and runs passes until one fails,
// which never happens on its own.
int TestDevice(const cl::Device& device, std::int32_t block_count) {
  auto memory_test = std::make_unique<MemoryTest>(device);
  std::uint64_t total_bytes = 0;
  if (!memory_test->Prepare(total_bytes,
                            static_cast<std::uint64_t>(block_count))) {
    return Fail("Failure to prepare memory test.");
  }

  std::vector<std::uint32_t> word_errors;
  std::vector<std::uint32_t> bit_errors;
  std::vector<float> write_speeds;
  std::vector<float> read_speeds;
  // Nothing requests a stop; the token lets a pass end at a block boundary.
  std::stop_source cancel_source;
  const std::stop_token cancel_token = cancel_source.get_token();
  vramcheck::StatusReport report(MonotonicNs());

  vramcheck::ClearScreen(std::cout);
  for (std::uint32_t iteration = 1;; ++iteration) {
    const std::int64_t pass_start = MonotonicNs();
    if (!memory_test->RunPass(word_errors, bit_errors, write_speeds,
                              read_speeds, iteration, cancel_token)) {
      break;
    }
    if (auto line = report.AddPass(pass_start, word_errors, write_speeds,
                                   read_speeds)) {
      vramcheck::DrawStatusLine(std::cout, *line);
    }
  }
  return Fail("Failure memory test.");
}

// Lists the testable devices, asks for a device and a block count, checks
// both, and tests.
int Run() {
  if (const auto line = vramcheck::LoadOpenClLibrary()) {
    return Fail(line->c_str());
  }
  std::vector<cl::Device> devices;
  vramcheck::FindTestableDevices(devices);
  if (devices.empty()) return Fail("Device not found.");
  vramcheck::PrintDeviceList(devices);

  std::int32_t device_index = 0;
  if (devices.size() != 1) {
    std::cout << "Choose Device Number.(0.."
              << static_cast<std::int32_t>(devices.size() - 1) << ")"
              << std::endl;
    // A negative number, cast, is far beyond any list's size.
    if (!ReadNumber(device_index) ||
        static_cast<std::uint64_t>(device_index) >= devices.size()) {
      return Fail("Invalid device number.");
    }
  }
  const cl::Device& device = devices[device_index];

  const std::uint64_t max_blocks =
      vramcheck::MaxBlocks(device.getInfo<CL_DEVICE_GLOBAL_MEM_SIZE>());
  std::cout << "How many memory blocks will you test? (max: " << max_blocks
            << " blocks)" << std::endl;
  std::int32_t block_count = 0;
  if (!ReadNumber(block_count) || block_count < 1 ||
      static_cast<std::uint64_t>(block_count) > max_blocks) {
    return Fail("Invalid memory blocks number.");
  }
  return TestDevice(device, block_count);
}

std::string OutputErrorLine(int error) {
  return std::string("Error: cannot write to standard output: ") +
         std::strerror(error) + ".";
}

// Writes the line that explains the exception being handled, which ends
// the program, to standard error. The status line, or a device line whose
// name could not be queried, is first ended where it stands, so that
// standard error holds the message alone.
void ReportError(const vramcheck::LineTracker& standard_output) {
  if (standard_output.write_error() != 0) {
    std::cerr << OutputErrorLine(standard_output.write_error()) << std::endl;
    return;
  }
  if (standard_output.line_open()) std::cout << std::endl;
  std::cerr << vramcheck::DescribeException(std::current_exception())
            << std::endl;
}

// Runs the tester and turns whatever ends it into its line and exit status.
int RunAndExplain() {
  if (!vramcheck::StandardOutputIsOpen()) {
    std::cerr << OutputErrorLine(EBADF) << std::endl;
    return 1;
  }
  const vramcheck::LineTracker standard_output(std::cout);
  // A run whose status line cannot be shown reports nothing: the first
  // write or flush of standard output that fails ends it.
  std::cout.exceptions(std::ios::badbit);
  try {
    return Run();
  } catch (...) {
    // Standard output is flushed once more at exit, where nobody may throw.
    std::cout.exceptions(std::ios::goodbit);
    ReportError(standard_output);
    return 1;
  }
}

}  // namespace

int main() {
  const int status = RunAndExplain();
  vramcheck::WaitBeforeWindowCloses();
  return status;
}
