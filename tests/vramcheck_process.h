#ifndef VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_
#define VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_

#include <functional>
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

}  // namespace vramcheck::test_support

#endif  // VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_
