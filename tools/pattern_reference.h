#ifndef VRAMCHECK_TOOLS_PATTERN_REFERENCE_H_
#define VRAMCHECK_TOOLS_PATTERN_REFERENCE_H_

#include <array>
#include <cstdint>

namespace vramcheck::reference {

using Element = std::array<std::uint32_t, 4>;

// Host reference of the test pattern: the value element `index` of a block
// must hold in a pass with `calc_param`.
inline Element ReferenceValue(std::uint32_t index, std::uint32_t calc_param) {
  static constexpr std::uint32_t kMasks[4][4] = {
      {0x00000000, 0xffffffff, 0xaaaaaaaa, 0x55555555},
      {0x11111111, 0xeeeeeeee, 0xbbbbbbbb, 0x44444444},
      {0x22222222, 0xdddddddd, 0x88888888, 0x66666666},
      {0x44444444, 0xbbbbbbbb, 0xeeeeeeee, 0x11111111}};
  const std::uint32_t effective_index = index * 4 + calc_param;
  Element value;
  for (std::uint32_t lane = 0; lane < 4; ++lane) {
    const std::uint32_t address =
        (effective_index + lane + 1) ^ kMasks[effective_index & 3][lane];
    const std::uint32_t shift = address % 31;
    value[lane] =
        shift == 0 ? address : (address << shift) | (address >> (32 - shift));
  }
  return value;
}

// Host reference of the read order: the element that work-item `id` of a
// Read launch checks, in the pass with `calc_param` and number `iter`. It
// stays within the id's own granule of 8192 elements.
inline std::uint32_t ReferenceReadElement(std::uint32_t id,
                                          std::uint32_t calc_param,
                                          std::uint32_t iter) {
  constexpr std::uint32_t kGranule = 0x2000;
  const std::uint32_t position =
      (11 * id + 999 * iter + calc_param + 7 * (id / kGranule)) % kGranule;
  return id - id % kGranule + position;
}

}  // namespace vramcheck::reference

#endif  // VRAMCHECK_TOOLS_PATTERN_REFERENCE_H_
