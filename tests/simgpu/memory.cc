#include "memory.h"

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config.h"
#include "pocl.h"

namespace simgpu {
namespace {

// What the destructor callback of a buffer needs; owned by the callback.
struct BufferTag {
  std::shared_ptr<Blocks> blocks;
  std::optional<uint64_t> block;  // The block index, for blocks.
  size_t size;
};

std::string Describe(const BufferTag& tag) {
  return tag.block ? "block " + std::to_string(*tag.block)
                   : "buffer " + std::to_string(tag.size);
}

void CL_CALLBACK OnBufferDestroyed(cl_mem /*buffer*/, void* user_data) {
  const std::unique_ptr<BufferTag> tag(static_cast<BufferTag*>(user_data));
  if (tag->block) tag->blocks->Remove(*tag->block);
  LogEvent(std::string("release ").append(Describe(*tag)));
}

}  // namespace

bool Blocks::CountAttempt() {
  const uint64_t failing_attempt = NumberSetting(
      "SIMGPU_FAIL_BLOCK", 0, std::numeric_limits<uint64_t>::max());
  const std::lock_guard<std::mutex> lock(mutex_);
  return ++attempts_ != failing_attempt;
}

uint64_t Blocks::Add(cl_mem block) {
  const std::lock_guard<std::mutex> lock(mutex_);
  blocks_.push_back(block);
  return blocks_.size() - 1;
}

void Blocks::Remove(uint64_t index) {
  const std::lock_guard<std::mutex> lock(mutex_);
  blocks_[index] = nullptr;
}

cl_mem Blocks::Acquire(uint64_t index) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (index >= blocks_.size() || blocks_[index] == nullptr) return nullptr;
  PoclApi().clRetainMemObject(blocks_[index]);
  return blocks_[index];
}

// Largest buffer that is created holding garbage.
constexpr size_t kGarbageLimit = 4096;

cl_mem CreateBuffer(Context& context, cl_mem_flags flags, size_t size,
                    void* host_ptr, cl_int* errcode_ret) {
  const cl_mem_flags asked_flags = flags;
  const bool is_block = size == kBlockSize;
  if (is_block && !context.blocks->CountAttempt()) {
    SetStatus(errcode_ret, CL_MEM_OBJECT_ALLOCATION_FAILURE);
    return nullptr;
  }
  // Small buffers start out holding garbage, as device memory may, rather
  // than the zeroes of fresh host pages.
  std::vector<unsigned char> garbage;
  if (!is_block && size <= kGarbageLimit &&
      (flags & (CL_MEM_USE_HOST_PTR | CL_MEM_COPY_HOST_PTR)) == 0) {
    garbage.assign(size, 0xA5);
    flags |= CL_MEM_COPY_HOST_PTR;
    host_ptr = garbage.data();
  }
  cl_int status = CL_SUCCESS;
  cl_mem buffer =
      PoclApi().clCreateBuffer(context.pocl, flags, size, host_ptr, &status);
  if (buffer == nullptr) {
    SetStatus(errcode_ret, status);
    return nullptr;
  }
  auto tag = std::make_unique<BufferTag>(BufferTag{context.blocks, {}, size});
  if (is_block) tag->block = context.blocks->Add(buffer);
  const std::string description = Describe(*tag) + " " + FlagsText(asked_flags);
  status = PoclApi().clSetMemObjectDestructorCallback(buffer, OnBufferDestroyed,
                                                      tag.get());
  if (status != CL_SUCCESS) {
    if (tag->block) context.blocks->Remove(*tag->block);
    PoclApi().clReleaseMemObject(buffer);
    SetStatus(errcode_ret, status);
    return nullptr;
  }
  tag.release();  // Now owned by the callback.
  LogEvent("create " + description);
  SetStatus(errcode_ret, CL_SUCCESS);
  return buffer;
}

}  // namespace simgpu
