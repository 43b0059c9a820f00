#ifndef VRAMCHECK_TESTS_SUPPORT_VRAMCHECK_PROCESS_H_
#define VRAMCHECK_TESTS_SUPPORT_VRAMCHECK_PROCESS_H_

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "process_runner.h"

namespace vramcheck::test_support {

inline constexpr char kClearScreen[] = "\x1b[2J\x1b[0;0H";

// The same tests run against the native tester and, when VRAMCHECK_WINE
// names Wine's loader, against the Windows program under Wine, which ends
// its lines with CR LF. Wine runs in the prefix VRAMCHECK_WINEPREFIX, made
// beforehand, with the runtime folder VRAMCHECK_WINE_RUNTIME_DIR, and keeps
// its own diagnostics to itself.
#ifdef VRAMCHECK_WINE
inline constexpr bool kUnderWine = true;
inline const std::vector<std::string> kVramcheckCommand = {VRAMCHECK_WINE,
                                                           VRAMCHECK_BINARY};
inline const std::vector<std::string> kCommandEnvironment = {
    "WINEPREFIX=" VRAMCHECK_WINEPREFIX,
    "XDG_RUNTIME_DIR=" VRAMCHECK_WINE_RUNTIME_DIR, "WINEDEBUG=-all"};
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

// Fails the calling test when the runner gave up waiting for `awaited`.
inline void ExpectInTime(const ProcessResult& result,
                         const ProcessOptions& options,
                         const std::string& awaited) {
  if (result.timed_out) {
    ADD_FAILURE() << "no " << awaited << " within "
                  << options.timeout.count() << " s";
  }
}

// Runs the real tester on the simulated GPU with `environment` added and
// `input` on standard input, until it ends or `stop_when` holds for its
// output so far; `awaited` names that moment for a test that gives up
// waiting. `launcher`, when given, starts the tester with the tester's
// command as its last arguments. Output comes back with LF line ends. Under
// Wine only standard output is held to CR LF: the OpenCL driver, a Linux
// library there, may write notes of its own to standard error, with LF.
inline ProcessResult RunVramcheck(
    std::vector<std::string> environment, std::string input,
    std::function<bool(const std::string& out)> stop_when,
    const std::string& awaited, std::vector<std::string> launcher = {},
    std::chrono::seconds timeout = std::chrono::seconds(60)) {
  ProcessOptions options;
  options.environment = std::move(environment);
  options.environment.insert(options.environment.end(),
                             kCommandEnvironment.begin(),
                             kCommandEnvironment.end());
  options.input = std::move(input);
  options.stop_when = std::move(stop_when);
  options.timeout = timeout;
  launcher.insert(launcher.end(), kVramcheckCommand.begin(),
                  kVramcheckCommand.end());
  ProcessResult result = RunProcess(launcher, options);
  // Wine's client can lose the prefix's wineserver while that ends after
  // the program before; Wine then says only this line. The fault is Wine's,
  // not the program's: the run is made once more.
  if (kUnderWine && result.err.starts_with("wine client error:")) {
    result = RunProcess(launcher, options);
  }
  ExpectInTime(result, options, awaited);
  if (kUnderWine) {
    result.out = WithUnixLineEnds(result.out, true);
    result.err = WithUnixLineEnds(result.err, false);
  }
  return result;
}

// Oclgrind's launcher as the build found it; empty when it is not installed
// or the tester under test is the Windows program, which Oclgrind cannot run.
inline constexpr char kOclgrind[] = OCLGRIND_PROGRAM;

// Why the tests on Oclgrind cannot run here, or nullptr when they can.
inline const char* OclgrindUnavailable() {
  if (kUnderWine) return "Oclgrind runs Linux programs only";
  if (kOclgrind[0] == '\0') return "oclgrind is not installed";
  return nullptr;
}

// Runs the real tester under Oclgrind, an OpenCL device simulator written
// by others, with `oclgrind_options` (its checks and device settings). The
// launcher makes Oclgrind the only OpenCL platform and becomes the tester's
// process, so ending that process leaves nothing behind.
inline ProcessResult RunVramcheckOnOclgrind(
    std::vector<std::string> oclgrind_options, std::string input,
    std::function<bool(const std::string& out)> stop_when,
    const std::string& awaited, std::chrono::seconds timeout) {
  oclgrind_options.insert(oclgrind_options.begin(), kOclgrind);
  return RunVramcheck({}, std::move(input), std::move(stop_when), awaited,
                      std::move(oclgrind_options), timeout);
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

#endif  // VRAMCHECK_TESTS_SUPPORT_VRAMCHECK_PROCESS_H_
