// Device test program. Every 16-byte element of a block holds a value derived
// from its index and the pass parameter calc_param; Write stores the pattern,
// Read checks it and counts the wrong 32-bit words and bits.
#pragma OPENCL EXTENSION cl_khr_global_int32_base_atomics : enable

// Width, in work-items, of dimension 0 of every launch.
#define TEST_WINDOW_1D_MAX_GROUPS 0x4000
// Number of elements within which Read permutes its read addresses.
#define TEST_WINDOW_READ_ADDR_ROTATION_GRANULARITY 0x2000

uint4 GetMask(uint index) {
  const uint4 table[4] = {
      (uint4)(0x00000000, 0xffffffff, 0xaaaaaaaa, 0x55555555),
      (uint4)(0x11111111, 0xeeeeeeee, 0xbbbbbbbb, 0x44444444),
      (uint4)(0x22222222, 0xdddddddd, 0x88888888, 0x66666666),
      (uint4)(0x44444444, 0xbbbbbbbb, 0xeeeeeeee, 0x11111111)};
  return table[index & 3];
}

// The four 1-based word positions of element `index`, offset by calc_param
// and scrambled with a mask row.
uint4 IndexToAddress(uint index, uint calc_param) {
  uint effective_index = index * 4 + calc_param;
  return (uint4)(effective_index + 1, effective_index + 2,
                 effective_index + 3, effective_index + 4) ^
         GetMask(effective_index);
}

// Each lane is its address rotated left by (address mod 31) bits.
uint4 IndexToTestValue(uint index, uint calc_param) {
  uint4 addrs = IndexToAddress(index, calc_param);
  uint4 shifts = addrs % 31;
  uint4 rotated = (addrs << shifts) | (addrs >> (32 - shifts));
  return rotated;
}

// Writes the pattern, mirrored within each window of 0x800000 work-items.
__kernel __attribute__((reqd_work_group_size(64, 1, 1)))
void Write(global uint4 *dst, uint calc_param) {
  uint effective_invocation_id =
      get_global_id(0) + get_global_id(1) * TEST_WINDOW_1D_MAX_GROUPS;
  uint test_window_size_granularity = 64 * 8 * TEST_WINDOW_1D_MAX_GROUPS;
  uint proccessed_mod = effective_invocation_id % test_window_size_granularity;
  uint proccessed_idx = effective_invocation_id + test_window_size_granularity -
                        2 * proccessed_mod - 1;
  dst[proccessed_idx] = IndexToTestValue(proccessed_idx, calc_param);
}

// Reads every element once, in an order permuted within each granule and
// changing from pass to pass, and counts the mismatches.
__kernel __attribute__((reqd_work_group_size(64, 1, 1)))
void Read(volatile global uint *errors, global uint4 *src, uint calc_param,
          uint iter) {
  uint effective_invocation_id =
      get_global_id(0) + get_global_id(1) * TEST_WINDOW_1D_MAX_GROUPS;
  uint addr_mod =
      effective_invocation_id % TEST_WINDOW_READ_ADDR_ROTATION_GRANULARITY;
  uint new_mod = (11 * effective_invocation_id + 999 * iter + calc_param +
                  7 * (effective_invocation_id /
                       TEST_WINDOW_READ_ADDR_ROTATION_GRANULARITY)) %
                 TEST_WINDOW_READ_ADDR_ROTATION_GRANULARITY;
  uint effective_addr = effective_invocation_id - addr_mod + new_mod;
  uint4 actual_value = src[effective_addr];
  uint4 expected_value = IndexToTestValue(effective_addr, calc_param);
  uint4 result = actual_value ^ expected_value;
  if (any(result != 0)) {
    uint words = (result.s0 != 0) + (result.s1 != 0) + (result.s2 != 0) +
                 (result.s3 != 0);
    atomic_add(&errors[0], words);
    uint4 lane_bits = popcount(result);
    uint bits = lane_bits.s0 + lane_bits.s1 + lane_bits.s2 + lane_bits.s3;
    atomic_add(&errors[1], bits);
  }
}
