#include "memory.h"

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "pocl.h"

namespace simgpu {
namespace {

// Turns the 32-bit word at `offset` of a block into
// ((word ^ flip) | ones) & ~zeros.
struct WordFault {
  uint64_t block;
  uint64_t offset;
  cl_uint flip = 0;
  cl_uint ones = 0;
  cl_uint zeros = 0;
};

enum class FaultKind { kBitFlip, kStuckAt };

// "block:offset:mask" for a bit flip, "block:offset:ones:zeros" for stuck-at
// bits; nullopt when malformed.
std::optional<WordFault> ParseFault(std::string_view entry, FaultKind kind) {
  const std::vector<std::string_view> fields = Split(entry, ':');
  if (fields.size() != (kind == FaultKind::kBitFlip ? 3u : 4u)) {
    return std::nullopt;
  }
  std::vector<uint64_t> numbers;
  for (std::string_view field : fields) {
    const std::optional<uint64_t> number = ParseNumber(field);
    if (!number) return std::nullopt;
    numbers.push_back(*number);
  }
  for (size_t i = 2; i < numbers.size(); ++i) {
    if (numbers[i] > std::numeric_limits<cl_uint>::max()) return std::nullopt;
  }
  WordFault fault{numbers[0], numbers[1]};
  if (fault.offset % sizeof(cl_uint) != 0 ||
      fault.offset > kBlockSize - sizeof(cl_uint)) {
    return std::nullopt;
  }
  if (kind == FaultKind::kBitFlip) {
    fault.flip = static_cast<cl_uint>(numbers[2]);
  } else {
    fault.ones = static_cast<cl_uint>(numbers[2]);
    fault.zeros = static_cast<cl_uint>(numbers[3]);
  }
  return fault;
}

std::vector<WordFault> FaultSetting(const std::string& name, FaultKind kind) {
  const std::optional<std::string> text = GetEnv(name);
  if (!text || text->empty()) return {};
  std::vector<WordFault> faults;
  for (std::string_view entry : Split(*text, ',')) {
    if (std::optional<WordFault> fault = ParseFault(entry, kind)) {
      faults.push_back(*fault);
    } else {
      WarnMalformed(name + " entry", entry);
    }
  }
  return faults;
}

cl_int ChangeWord(cl_command_queue queue, cl_mem block,
                  const WordFault& fault) {
  cl_uint word = 0;
  cl_int status =
      PoclApi().clEnqueueReadBuffer(queue, block, CL_TRUE, fault.offset,
                                    sizeof(word), &word, 0, nullptr, nullptr);
  if (status != CL_SUCCESS) return status;
  word = ((word ^ fault.flip) | fault.ones) & ~fault.zeros;
  return PoclApi().clEnqueueWriteBuffer(queue, block, CL_TRUE, fault.offset,
                                        sizeof(word), &word, 0, nullptr,
                                        nullptr);
}

// Faults on blocks that do not exist (any more) are skipped.
cl_int ApplyFaults(Queue& queue, const std::vector<WordFault>& faults) {
  for (const WordFault& fault : faults) {
    cl_mem block = queue.context->blocks->Acquire(fault.block);
    if (block == nullptr) continue;
    const cl_int status = ChangeWord(queue.pocl, block, fault);
    PoclApi().clReleaseMemObject(block);
    if (status != CL_SUCCESS) return status;
  }
  return CL_SUCCESS;
}

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
  LogEvent("release " + Describe(*tag));
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

cl_int InjectFaultsBeforeRead(Queue& queue) {
  if (queue.write_pending.exchange(false)) {
    const cl_int status = ApplyFaults(
        queue, FaultSetting("SIMGPU_BIT_FAULTS", FaultKind::kBitFlip));
    if (status != CL_SUCCESS) return status;
  }
  return ApplyFaults(queue,
                     FaultSetting("SIMGPU_STUCK_FAULTS", FaultKind::kStuckAt));
}

}  // namespace simgpu
