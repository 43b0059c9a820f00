#include "stuck_bit_passes.h"

#include <random>

#include "kernels/device_program.h"
#include "pattern_reference.h"

namespace vramcheck::tools {

using reference::ReferenceValue;

std::uint32_t FirstDetectingPass(const StuckBit& stuck,
                                 std::uint32_t max_pass) {
  for (std::uint32_t pass = 1; pass <= max_pass; ++pass) {
    const std::uint32_t word =
        ReferenceValue(stuck.index, CalcParam(pass))[stuck.lane];
    if (((word >> stuck.bit) & 1u) != (stuck.value ? 1u : 0u)) return pass;
  }
  return 0;
}

DetectionCounts CountDetections(std::uint64_t samples, std::uint64_t seed,
                                std::uint32_t max_pass) {
  DetectionCounts counts;
  counts.samples = samples;
  counts.first_found_in.assign(max_pass + 1, 0);
  std::mt19937_64 random(seed);
  for (std::uint64_t i = 0; i < samples; ++i) {
    const std::uint64_t r = random();
    const StuckBit stuck{static_cast<std::uint32_t>(r & 0x7FFFFF),
                         static_cast<std::uint32_t>((r >> 23) & 3),
                         static_cast<std::uint32_t>((r >> 25) & 31),
                         ((r >> 30) & 1) != 0};
    const std::uint32_t pass = FirstDetectingPass(stuck, max_pass);
    if (pass == 0) {
      ++counts.never_found;
    } else {
      ++counts.first_found_in[pass];
    }
  }
  return counts;
}

double ShareFoundBy(const DetectionCounts& counts, std::uint32_t pass) {
  std::uint64_t found = 0;
  for (std::uint32_t k = 1; k <= pass && k < counts.first_found_in.size();
       ++k) {
    found += counts.first_found_in[k];
  }
  return static_cast<double>(found) / static_cast<double>(counts.samples);
}

std::uint32_t LatestDetectingPass(const DetectionCounts& counts) {
  for (std::size_t k = counts.first_found_in.size(); k-- > 1;) {
    if (counts.first_found_in[k] != 0) return static_cast<std::uint32_t>(k);
  }
  return 0;
}

}  // namespace vramcheck::tools
