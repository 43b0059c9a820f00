#include "bench/summary.h"

#include <algorithm>

namespace vramcheck::bench {

std::optional<Summary> Summarize(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median =
      n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return Summary{median, values.front(), values.back(), n};
}

std::optional<double> GibPerSecond(std::uint64_t bytes,
                                   std::int64_t elapsed_ns) {
  if (elapsed_ns <= 0) return std::nullopt;
  const double gib = static_cast<double>(bytes) / (1 << 30);
  return gib / (static_cast<double>(elapsed_ns) / 1e9);
}

std::vector<double> UsableGibPerSecond(
    std::uint64_t bytes, const std::vector<std::int64_t>& elapsed_ns) {
  std::vector<double> rates;
  for (const std::int64_t ns : elapsed_ns) {
    if (const auto rate = GibPerSecond(bytes, ns)) rates.push_back(*rate);
  }
  return rates;
}

std::optional<double> Ratio(std::optional<double> numerator,
                            std::optional<double> denominator) {
  if (!numerator || !denominator || *denominator == 0) return std::nullopt;
  return *numerator / *denominator;
}

}  // namespace vramcheck::bench
