#ifndef VRAMCHECK_BENCH_OPTIONS_H_
#define VRAMCHECK_BENCH_OPTIONS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vramcheck::bench {

struct Options {
  std::uint32_t platform = 0;
  std::uint32_t device = 0;  // among all the platform's devices, any type
  std::uint32_t reps = 15;
  std::uint32_t blocks = 2;  // of the timed tester passes
  std::string out = "vramcheck-bench.json";
  bool list = false;
  bool help = false;
};

inline constexpr char kUsage[] =
    "usage: vramcheck_bench [--platform P] [--device D] [--reps N] "
    "[--blocks K] [--out FILE]\n"
    "       vramcheck_bench --list\n";

// Parses the arguments that follow the program name into `options`.
// Returns false and sets `error` for an unknown option, a missing value or
// a value that is not a whole number in range (reps and blocks from 1).
bool ParseOptions(const std::vector<std::string_view>& args, Options& options,
                  std::string& error);

}  // namespace vramcheck::bench

#endif  // VRAMCHECK_BENCH_OPTIONS_H_
