#include "app/status_report.h"

#include <fmt/format.h>

namespace vramcheck {

std::string FormatStatusLine(float write_average, float read_average,
                             std::uint64_t total_errors) {
  return fmt::format(
      "Write: {:.2f} [GiB/s], Read: {:.2f} [GiB/s], Total Error: {}",
      write_average, read_average, total_errors);
}

float Average(const std::vector<float>& samples) {
  float sum = 0.0f;
  for (float sample : samples) sum += sample;
  return sum / static_cast<float>(samples.size());
}

StatusReport::StatusReport(std::int64_t start_ns)
    : next_report_time_(start_ns) {}

std::optional<std::string> StatusReport::AddPass(
    std::int64_t pass_start_ns, const std::vector<std::uint32_t>& word_errors,
    const std::vector<float>& write_speeds,
    const std::vector<float>& read_speeds) {
  for (std::uint32_t errors : word_errors) total_errors_ += errors;
  report_write_speeds_.insert(report_write_speeds_.end(),
                              write_speeds.begin(), write_speeds.end());
  report_read_speeds_.insert(report_read_speeds_.end(), read_speeds.begin(),
                             read_speeds.end());
  if (next_report_time_ > pass_start_ns) return std::nullopt;

  next_report_time_ = pass_start_ns + kReportIntervalNs;
  std::string line = FormatStatusLine(Average(report_write_speeds_),
                                      Average(report_read_speeds_),
                                      total_errors_);
  // clear() keeps the storage, so a steady run stops allocating.
  report_write_speeds_.clear();
  report_read_speeds_.clear();
  return line;
}

}  // namespace vramcheck
