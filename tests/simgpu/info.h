#ifndef TESTS_SIMGPU_INFO_H_
#define TESTS_SIMGPU_INFO_H_

#include <cstring>
#include <string_view>
#include <vector>

#include <CL/cl.h>

namespace simgpu {

// The caller's side of a clGet*Info query. The size is reported whenever
// asked for, also when the caller's buffer is too small.
struct InfoOut {
  size_t capacity;
  void* value;
  size_t* size_ret;

  cl_int Bytes(const void* data, size_t size) const {
    if (size_ret != nullptr) *size_ret = size;
    if (value == nullptr) return CL_SUCCESS;
    if (capacity < size) return CL_INVALID_VALUE;
    if (size > 0) std::memcpy(value, data, size);
    return CL_SUCCESS;
  }

  template <typename T>
  cl_int Scalar(const T& item) const {
    return Bytes(&item, sizeof(item));
  }

  template <typename T>
  cl_int Array(const std::vector<T>& items) const {
    return Bytes(items.data(), items.size() * sizeof(T));
  }

  // Text with its terminating NUL.
  cl_int Text(std::string_view text) const {
    std::vector<char> chars(text.begin(), text.end());
    chars.push_back('\0');
    return Array(chars);
  }
};

}  // namespace simgpu

#endif  // TESTS_SIMGPU_INFO_H_
