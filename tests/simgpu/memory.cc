#include "memory.h"

#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
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
}

// The application's references to each live buffer, with the buffer's
// description. PoCL destroys a buffer in its own time (PoCL 7 on a thread of
// its own, after later releases), so the log shows the application's last
// release, as for the driver's own objects.
struct References {
  std::mutex mutex;
  std::map<cl_mem, std::pair<uint64_t, std::string>> counts;
};

References& BufferReferences() {
  static auto* const references = new References;
  return *references;
}

cl_int CL_API_CALL RetainBuffer(cl_mem buffer) {
  References& references = BufferReferences();
  {
    const std::lock_guard<std::mutex> lock(references.mutex);
    const auto it = references.counts.find(buffer);
    if (it != references.counts.end()) ++it->second.first;
  }
  return PoclApi().clRetainMemObject(buffer);
}

cl_int CL_API_CALL ReleaseBuffer(cl_mem buffer) {
  References& references = BufferReferences();
  std::optional<std::string> released;
  {
    const std::lock_guard<std::mutex> lock(references.mutex);
    const auto it = references.counts.find(buffer);
    if (it != references.counts.end() && --it->second.first == 0) {
      released = std::move(it->second.second);
      references.counts.erase(it);
    }
  }
  if (released) LogEvent("release " + *released);
  return PoclApi().clReleaseMemObject(buffer);
}

// PoCL's dispatch table with the application's retains and releases of
// buffers counted. Unmarked, so that a loader calls through it (pocl.cc).
const cl_icd_dispatch* BufferApi() {
  static const cl_icd_dispatch* const api = [] {
    auto* table = new cl_icd_dispatch(PoclApi());
    table->clRetainMemObject = RetainBuffer;
    table->clReleaseMemObject = ReleaseBuffer;
    table->clGetPlatformIDs = nullptr;
    return table;
  }();
  return api;
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
  {
    References& references = BufferReferences();
    const std::lock_guard<std::mutex> lock(references.mutex);
    references.counts[buffer] = {1, Describe(*tag)};
  }
  *reinterpret_cast<const cl_icd_dispatch**>(buffer) = BufferApi();
  tag.release();  // Now owned by the callback.
  LogEvent("create " + description);
  SetStatus(errcode_ret, CL_SUCCESS);
  return buffer;
}

}  // namespace simgpu
