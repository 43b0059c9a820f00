#include "bench/statistics.h"

#include <algorithm>

namespace vramcheck::bench {

std::optional<Spread> Summarize(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median =
      n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return Spread{median, values.front(), values.back(), n};
}

std::vector<double> GibPerSecond(std::uint64_t bytes,
                                 const std::vector<std::int64_t>& elapsed_ns) {
  const double gib = static_cast<double>(bytes) / (1 << 30);
  std::vector<double> rates;
  for (const std::int64_t ns : elapsed_ns) {
    rates.push_back(gib / (static_cast<double>(ns) / 1e9));
  }
  return rates;
}

}  // namespace vramcheck::bench
