#ifndef VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_
#define VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_

#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "process_runner.h"

namespace vramcheck::test_support {

inline constexpr char kClearScreen[] = "\x1b[2J\x1b[0;0H";

// Runs the real tester on the simulated GPU with `environment` added and
// `input` on standard input, until it ends or `stop_when` holds for its
// output so far.
inline ProcessResult RunVramcheck(
    std::vector<std::string> environment, std::string input,
    std::function<bool(const std::string& out)> stop_when) {
  ProcessOptions options;
  options.environment = std::move(environment);
  options.input = std::move(input);
  options.stop_when = std::move(stop_when);
  return RunProcess({VRAMCHECK_BINARY}, options);
}

// Oclgrind's launcher as the build found it; empty when it is not installed.
inline constexpr char kOclgrind[] = OCLGRIND_PROGRAM;
inline constexpr bool kOclgrindInstalled = kOclgrind[0] != '\0';

// Runs the real tester under Oclgrind, an OpenCL device simulator written
// by others, with `oclgrind_options` (its checks and device settings). The
// launcher makes Oclgrind the only OpenCL platform and becomes the tester's
// process, so ending that process leaves nothing behind.
inline ProcessResult RunVramcheckOnOclgrind(
    std::vector<std::string> oclgrind_options, std::string input,
    std::function<bool(const std::string& out)> stop_when,
    std::chrono::seconds timeout) {
  std::vector<std::string> argv = {kOclgrind};
  argv.insert(argv.end(), oclgrind_options.begin(), oclgrind_options.end());
  argv.push_back(VRAMCHECK_BINARY);
  ProcessOptions options;
  options.input = std::move(input);
  options.stop_when = std::move(stop_when);
  options.timeout = timeout;
  return RunProcess(argv, options);
}

// The device list as the tester prints it.
inline std::string DeviceList(const std::vector<std::string>& names) {
  std::string text = "Device Number: Device Name\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += std::to_string(i) + ": " + names[i] + "\n";
  }
  return text;
}

inline std::string BlockPrompt(unsigned long long max_blocks) {
  return "How many memory blocks will you test? (max: " +
         std::to_string(max_blocks) + " blocks)\n";
}

// The Total Error figure of every complete status line in `out`, in order.
inline std::vector<unsigned long> StatusLineTotals(const std::string& out) {
  static const std::regex kStatusLine(
      "\x1b\\[0;0H\x1b\\[0JWrite: [0-9]+\\.[0-9]{2} \\[GiB/s\\], Read: "
      "[0-9]+\\.[0-9]{2} \\[GiB/s\\], Total Error: ([0-9]+)");
  std::vector<unsigned long> totals;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), kStatusLine);
       it != std::sregex_iterator(); ++it) {
    totals.push_back(std::stoul((*it)[1]));
  }
  return totals;
}

}  // namespace vramcheck::test_support

#endif  // VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_
