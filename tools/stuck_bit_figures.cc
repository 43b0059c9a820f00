// Prints how many passes the tester needs to find a stuck bit: the share of
// a fixed sample of random single stuck bits found in the first pass and by
// passes 2, 4 and 8, and the latest pass any of them needed.

#include <cstdint>
#include <iostream>

#include <fmt/format.h>

#include "stuck_bit_passes.h"

int main() {
  using vramcheck::tools::CountDetections;
  using vramcheck::tools::ShareFoundBy;
  constexpr std::uint64_t kSamples = 200'000;
  constexpr std::uint64_t kSeed = 1;
  constexpr std::uint32_t kMaxPass = 1000;

  const auto counts = CountDetections(kSamples, kSeed, kMaxPass);
  std::cout << fmt::format("{} random stuck bits (seed {}):\n", kSamples,
                           kSeed);
  for (std::uint32_t pass : {1u, 2u, 4u, 8u}) {
    std::cout << fmt::format("  found {} pass {}: {:6.2f} %\n",
                             pass == 1 ? "in" : "by", pass,
                             100.0 * ShareFoundBy(counts, pass));
  }
  std::cout << fmt::format("  latest pass needed: {}\n",
                           vramcheck::tools::LatestDetectingPass(counts));
  if (counts.never_found != 0) {
    std::cout << fmt::format("  not found within {} passes: {}\n", kMaxPass,
                             counts.never_found);
  }
  return 0;
}
