#ifndef VRAMCHECK_TOOLS_STUCK_BIT_PASSES_H_
#define VRAMCHECK_TOOLS_STUCK_BIT_PASSES_H_

#include <cstdint>
#include <vector>

namespace vramcheck::tools {

// One bit of a block that always reads back as `value`.
struct StuckBit {
  std::uint32_t index;  // element of the block, 0 to 0x7FFFFF
  std::uint32_t lane;   // 32-bit word of the element, 0 to 3
  std::uint32_t bit;    // 0 to 31
  bool value;
};

// The first pass, from 1, whose pattern holds the opposite of the stuck
// value at that bit, so that its read finds the fault; 0 when no pass up to
// `max_pass` does.
std::uint32_t FirstDetectingPass(const StuckBit& stuck,
                                 std::uint32_t max_pass);

// How many of a sample of random stuck bits each pass finds first.
struct DetectionCounts {
  std::uint64_t samples = 0;
  // Entry k: the number found first in pass k (entry 0 stays 0).
  std::vector<std::uint64_t> first_found_in;
  // Not found up to the last pass looked at.
  std::uint64_t never_found = 0;
};

// Draws `samples` stuck bits from a 64-bit Mersenne Twister seeded with
// `seed`, using its raw output only, so the sample is the same with every
// standard library.
DetectionCounts CountDetections(std::uint64_t samples, std::uint64_t seed,
                                std::uint32_t max_pass);

// Share of the sample found in passes 1 to `pass`.
double ShareFoundBy(const DetectionCounts& counts, std::uint32_t pass);

// The latest pass that found a bit of the sample first.
std::uint32_t LatestDetectingPass(const DetectionCounts& counts);

}  // namespace vramcheck::tools

#endif  // VRAMCHECK_TOOLS_STUCK_BIT_PASSES_H_
