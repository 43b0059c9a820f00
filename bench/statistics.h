#ifndef VRAMCHECK_BENCH_STATISTICS_H_
#define VRAMCHECK_BENCH_STATISTICS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vramcheck::bench {

// Median and extremes of a set of repetitions.
struct Spread {
  double median;
  double min;
  double max;
  std::size_t count;
};

// The spread of `values`; nullopt when there are none.
std::optional<Spread> Summarize(std::vector<double> values);

// GiB/s of every interval in `elapsed_ns`, all above 0, that moved `bytes`.
std::vector<double> GibPerSecond(std::uint64_t bytes,
                                 const std::vector<std::int64_t>& elapsed_ns);

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_STATISTICS_H_
