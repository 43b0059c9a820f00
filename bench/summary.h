#ifndef VRAMCHECK_BENCH_SUMMARY_H_
#define VRAMCHECK_BENCH_SUMMARY_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vramcheck::bench {

struct Summary {
  double median;
  double min;
  double max;
  std::size_t count;
};

// Median, extremes and count of `values`; nullopt when there are none.
std::optional<Summary> Summarize(std::vector<double> values);

// GiB/s of moving `bytes` in `elapsed_ns`; nullopt for a zero or negative
// interval, which only a device with insane timestamps reports.
std::optional<double> GibPerSecond(std::uint64_t bytes,
                                   std::int64_t elapsed_ns);

// The GiB/s of every usable interval in `elapsed_ns`.
std::vector<double> UsableGibPerSecond(
    std::uint64_t bytes, const std::vector<std::int64_t>& elapsed_ns);

// Quotient of two optional figures; nullopt when either is missing or the
// denominator is zero.
std::optional<double> Ratio(std::optional<double> numerator,
                            std::optional<double> denominator);

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_SUMMARY_H_
