#ifndef VRAMCHECK_BENCH_REPORT_H_
#define VRAMCHECK_BENCH_REPORT_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench/kernel_timing.h"
#include "bench/pass_timing.h"

namespace vramcheck::bench {

// Everything one run measured, as measured.
struct BenchResults {
  std::string platform;
  std::string device;
  std::string driver;
  std::string started;  // UTC, ISO 8601
  std::uint32_t warmups = 0;
  std::uint32_t reps = 0;
  std::uint32_t blocks = 0;
  // Profiled nanoseconds of every timed repetition of each case.
  std::array<std::vector<std::int64_t>, kCaseCount> case_ns;
  std::vector<PassSample> passes;
};

// The table of GiB/s per case, the pass figures and the ratios, as printed.
std::string FormatReport(const BenchResults& results);

// The raw numbers with their summaries, as a JSON document.
std::string FormatJson(const BenchResults& results);

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_REPORT_H_
