#ifndef TESTS_SIMGPU_MEMORY_H_
#define TESTS_SIMGPU_MEMORY_H_

#include <cstdint>
#include <mutex>
#include <vector>

#include <CL/cl.h>

#include "objects.h"

namespace simgpu {

// Buffers of exactly this size are "blocks": the unit of the fault settings.
inline constexpr size_t kBlockSize = 0x8000000;

// The blocks of one context, by index in creation order. Shared with the
// destructor callbacks of its buffers, which may outlive the context.
class Blocks {
 public:
  // Counts an attempt to create a block; false if SIMGPU_FAIL_BLOCK says it
  // must fail.
  bool CountAttempt();

  // Records a new block; returns its index.
  uint64_t Add(cl_mem block);

  // Forgets a destroyed block.
  void Remove(uint64_t index);

  // The live block with this index, retained for the caller; else nullptr.
  cl_mem Acquire(uint64_t index);

 private:
  std::mutex mutex_;
  uint64_t attempts_ = 0;
  std::vector<cl_mem> blocks_;  // nullptr once destroyed.
};

// Creates a PoCL buffer in `context`, tracking blocks until PoCL destroys
// them, and logging the buffer's creation and the application's last release
// of it.
cl_mem CreateBuffer(Context& context, cl_mem_flags flags, size_t size,
                    void* host_ptr, cl_int* errcode_ret);

}  // namespace simgpu

#endif  // TESTS_SIMGPU_MEMORY_H_
