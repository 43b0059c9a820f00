#ifndef VRAMCHECK_APP_STATUS_REPORT_H_
#define VRAMCHECK_APP_STATUS_REPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vramcheck {

// A status line is due for the first pass that starts this long after the
// start of the pass that drew the previous one.
inline constexpr std::int64_t kReportIntervalNs = 5'000'000'000;

// The status line's text, "Write: W [GiB/s], Read: R [GiB/s], Total Error: E",
// with no newline, for DrawStatusLine (app/console.h).
std::string FormatStatusLine(float write_average, float read_average,
                             std::uint64_t total_errors);

// Unweighted mean of `samples`, summed in order in single precision.
float Average(const std::vector<float>& samples);

// The running figures of a test run: the total of faulty words since the
// start and the bandwidth samples since the last status line, and when the
// next status line is due.
class StatusReport {
 public:
  // `start_ns` is the monotonic clock's reading before the first pass.
  explicit StatusReport(std::int64_t start_ns);

  // Takes the results of one successful pass that started at
  // `pass_start_ns`. Returns the status line to draw when one is due; the
  // bandwidth samples then start again from none.
  std::optional<std::string> AddPass(std::int64_t pass_start_ns,
                                     const std::vector<std::uint32_t>& word_errors,
                                     const std::vector<float>& write_speeds,
                                     const std::vector<float>& read_speeds);

 private:
  std::int64_t next_report_time_;
  std::uint64_t total_errors_ = 0;
  std::vector<float> report_write_speeds_;
  std::vector<float> report_read_speeds_;
};

}  // namespace vramcheck

#endif  // VRAMCHECK_APP_STATUS_REPORT_H_
