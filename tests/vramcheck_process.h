#ifndef VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_
#define VRAMCHECK_TESTS_VRAMCHECK_PROCESS_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "process_runner.h"

namespace vramcheck::test_support {

inline constexpr char kClearScreen[] = "\x1b[2J\x1b[0;0H";

// The same tests run against the native tester and, when VRAMCHECK_WINE
// names Wine's loader, against the Windows program under Wine, which ends
// its lines with CR LF. Wine runs in the prefix VRAMCHECK_WINEPREFIX, made
// beforehand, and keeps its own diagnostics to itself.
#ifdef VRAMCHECK_WINE
inline constexpr bool kUnderWine = true;
inline const std::vector<std::string> kVramcheckCommand = {VRAMCHECK_WINE,
                                                           VRAMCHECK_BINARY};
inline const std::vector<std::string> kCommandEnvironment = {
    "WINEPREFIX=" VRAMCHECK_WINEPREFIX, "WINEDEBUG=-all"};
#else
inline constexpr bool kUnderWine = false;
inline const std::vector<std::string> kVramcheckCommand = {VRAMCHECK_BINARY};
inline const std::vector<std::string> kCommandEnvironment;
#endif

// `text` with each CR LF turned into LF. With `strict`, every line must end
// with CR LF: a bare LF or CR fails the calling test.
inline std::string WithUnixLineEnds(const std::string& text, bool strict) {
  std::string unix_text;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
    } else if (strict && (text[i] == '\r' || text[i] == '\n')) {
      ADD_FAILURE() << "bare " << (text[i] == '\n' ? "LF" : "CR") << " at "
                    << i << " of: " << text;
    }
    unix_text += text[i];
  }
  return unix_text;
}

// Runs the real tester on the simulated GPU with `environment` added and
// `input` on standard input, until it ends or `stop_when` holds for its
// output so far. Output comes back with LF line ends. Under Wine only
// standard output is held to CR LF: the OpenCL driver, a Linux library there,
// may write notes of its own to standard error, with LF.
inline ProcessResult RunVramcheck(
    std::vector<std::string> environment, std::string input,
    std::function<bool(const std::string& out)> stop_when) {
  ProcessOptions options;
  options.environment = std::move(environment);
  options.environment.insert(options.environment.end(),
                             kCommandEnvironment.begin(),
                             kCommandEnvironment.end());
  options.input = std::move(input);
  options.stop_when = std::move(stop_when);
  ProcessResult result = RunProcess(kVramcheckCommand, options);
  if (kUnderWine) {
    result.out = WithUnixLineEnds(result.out, true);
    result.err = WithUnixLineEnds(result.err, false);
  }
  return result;
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
