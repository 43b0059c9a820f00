// Faults injected into blocks before the kernel "Read" checks them, and into
// launches.

#include "faults.h"

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "memory.h"
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
  const std::optional<std::string> text = GetSetting(name);
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

// Whether the setting `name`, "kernel" or "kernel:N" (N from 1; "kernel"
// means N=1), names the `count`-th launch of `kernel`.
bool NamesLaunch(const std::string& name, const std::string& kernel,
                 uint64_t count) {
  const std::optional<std::string> text = GetSetting(name);
  if (!text) return false;
  const std::string_view setting = *text;
  const size_t colon = setting.find(':');
  uint64_t launch = 1;
  if (colon != std::string_view::npos) {
    const std::optional<uint64_t> number =
        ParseNumber(setting.substr(colon + 1));
    if (!number || *number == 0 || colon == 0) {
      WarnMalformed(name, setting);
      return false;
    }
    launch = *number;
  }
  return setting.substr(0, colon) == kernel && launch == count;
}

bool NamesLaunchOnDevice(const std::string& key, int device,
                         const std::string& kernel, uint64_t count) {
  return NamesLaunch("SIMGPU_" + key, kernel, count) ||
         NamesLaunch(DeviceVariable(device, key), kernel, count);
}

}  // namespace

LaunchFault ConfiguredLaunchFault(int device, const std::string& kernel,
                                  uint64_t count) {
  if (NamesLaunchOnDevice("FAIL_LAUNCH", device, kernel, count)) {
    return LaunchFault::kFail;
  }
  if (NamesLaunchOnDevice("HANG_LAUNCH", device, kernel, count)) {
    return LaunchFault::kHang;
  }
  return LaunchFault::kNone;
}

cl_int InjectFaultsBeforeRead(Queue& queue) {
  if (queue.write_pending.exchange(false)) {
    const std::string device_faults =
        DeviceVariable(queue.device->index, "BIT_FAULTS");
    for (const std::string& name : {std::string("SIMGPU_BIT_FAULTS"),
                                    device_faults}) {
      const cl_int status =
          ApplyFaults(queue, FaultSetting(name, FaultKind::kBitFlip));
      if (status != CL_SUCCESS) return status;
    }
  }
  return ApplyFaults(queue,
                     FaultSetting("SIMGPU_STUCK_FAULTS", FaultKind::kStuckAt));
}

}  // namespace simgpu
