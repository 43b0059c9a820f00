#include "device_config.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <CL/cl_ext.h>

#include "config.h"

namespace simgpu {
namespace {

struct KeyInfo {
  DeviceKey key;
  cl_device_info param;
  const char* name;
};

constexpr KeyInfo kKeys[] = {
    {DeviceKey::kName, CL_DEVICE_NAME, "NAME"},
    {DeviceKey::kMaxWorkGroupSize, CL_DEVICE_MAX_WORK_GROUP_SIZE,
     "MAX_WORK_GROUP_SIZE"},
    {DeviceKey::kMaxWorkItemSizes, CL_DEVICE_MAX_WORK_ITEM_SIZES,
     "MAX_WORK_ITEM_SIZES"},
    {DeviceKey::kMaxMemAllocSize, CL_DEVICE_MAX_MEM_ALLOC_SIZE,
     "MAX_MEM_ALLOC_SIZE"},
    {DeviceKey::kAvailable, CL_DEVICE_AVAILABLE, "AVAILABLE"},
    {DeviceKey::kCompilerAvailable, CL_DEVICE_COMPILER_AVAILABLE,
     "COMPILER_AVAILABLE"},
    {DeviceKey::kExtensions, CL_DEVICE_EXTENSIONS, "EXTENSIONS"},
    {DeviceKey::kGlobalMemSize, CL_DEVICE_GLOBAL_MEM_SIZE, "GLOBAL_MEM_SIZE"},
    {DeviceKey::kPciBus, CL_DEVICE_PCI_BUS_INFO_KHR, "PCI_BUS"},
    {DeviceKey::kUuid, CL_DEVICE_UUID_KHR, "UUID"},
};

constexpr char kDefaultName[] = "Simulated GPU";
constexpr char kDefaultExtensions[] =
    "cl_khr_byte_addressable_store cl_khr_global_int32_base_atomics "
    "cl_khr_global_int32_extended_atomics cl_khr_local_int32_base_atomics "
    "cl_khr_local_int32_extended_atomics";
constexpr uint64_t kDefaultMaxWorkGroupSize = 1024;
constexpr size_t kDefaultMaxWorkItemSize = 1024;
constexpr uint64_t kDefaultMaxMemAllocSize = 268435456;
constexpr uint64_t kDefaultGlobalMemSize = 1073741832;  // 1 GiB + 8 bytes.

const char* KeyName(DeviceKey key) {
  for (const KeyInfo& info : kKeys) {
    if (info.key == key) return info.name;
  }
  return "";
}

// The status SIMGPU_DEVICE<n>_FAIL_QUERY="KEY=status" gives this key, if any.
std::optional<cl_int> FailingStatus(int device, DeviceKey key) {
  const std::string name = DeviceVariable(device, "FAIL_QUERY");
  const std::optional<std::string> text = GetSetting(name);
  if (!text) return std::nullopt;
  const std::vector<std::string_view> fields = Split(*text, '=');
  // CL_SUCCESS, which would report success without an answer, is refused.
  const cl_int status = fields.size() == 2
                            ? ParseSigned(fields[1]).value_or(CL_SUCCESS)
                            : CL_SUCCESS;
  const bool known_key =
      std::any_of(std::begin(kKeys), std::end(kKeys),
                  [&](const KeyInfo& info) { return fields[0] == info.name; });
  if (status == CL_SUCCESS || !known_key) {
    WarnMalformed(name, *text);
    return std::nullopt;
  }
  if (fields[0] != KeyName(key)) return std::nullopt;
  return status;
}

// A comma-separated list of numbers; nullopt when malformed.
std::optional<std::vector<uint64_t>> ParseNumbers(std::string_view text) {
  std::vector<uint64_t> numbers;
  for (std::string_view field : Split(text, ',')) {
    const std::optional<uint64_t> number = ParseNumber(field);
    if (!number) return std::nullopt;
    numbers.push_back(*number);
  }
  return numbers;
}

// An empty text gives an empty list.
std::vector<size_t> WorkItemSizes(const std::string& name) {
  const std::optional<std::string> text = GetSetting(name);
  if (text && text->empty()) return {};
  if (text) {
    if (std::optional<std::vector<uint64_t>> sizes = ParseNumbers(*text)) {
      return {sizes->begin(), sizes->end()};
    }
    WarnMalformed(name, *text);
  }
  return {kDefaultMaxWorkItemSize, kDefaultMaxWorkItemSize,
          kDefaultMaxWorkItemSize};
}

// "first" or "first,later".
std::vector<uint64_t> GlobalMemSizes(const std::string& name,
                                     const std::optional<std::string>& text) {
  if (text) {
    std::optional<std::vector<uint64_t>> sizes = ParseNumbers(*text);
    if (sizes && sizes->size() <= 2) return *sizes;
    WarnMalformed(name, *text);
  }
  return {kDefaultGlobalMemSize};
}

// Answers CL_DEVICE_GLOBAL_MEM_SIZE: "later" goes to every answer after the
// first one given since the variable's text last changed.
cl_int GlobalMemSize(int device, const std::string& name, const InfoOut& out) {
  struct Answered {
    std::optional<std::string> text;
    uint64_t count = 0;
  };
  static auto* const mutex = new std::mutex;
  static auto* const answered = new std::map<int, Answered>;

  const std::optional<std::string> text = GetSetting(name);
  const std::vector<uint64_t> sizes = GlobalMemSizes(name, text);
  const std::lock_guard<std::mutex> lock(*mutex);
  Answered& state = (*answered)[device];
  if (state.text != text) state = {text, 0};
  const cl_ulong size = state.count > 0 ? sizes.back() : sizes.front();
  const cl_int status = out.Scalar(size);
  if (status == CL_SUCCESS && out.value != nullptr) ++state.count;
  return status;
}

// Hexadecimal digits, at most `max_digits` of them, without a prefix.
std::optional<uint64_t> ParseHex(std::string_view text, size_t max_digits) {
  const char* end = text.data() + text.size();
  uint64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data(), end, value, 16);
  if (text.empty() || text.size() > max_digits || error != std::errc() ||
      stop != end) {
    return std::nullopt;
  }
  return value;
}

// "domain:bus:device.function" in hexadecimal, e.g. "0000:3b:00.0".
std::optional<cl_device_pci_bus_info_khr> ParsePciAddress(
    std::string_view text) {
  const std::vector<std::string_view> fields = Split(text, ':');
  if (fields.size() != 3) return std::nullopt;
  const std::vector<std::string_view> slot = Split(fields[2], '.');
  if (slot.size() != 2) return std::nullopt;
  const std::optional<uint64_t> domain = ParseHex(fields[0], 8);
  const std::optional<uint64_t> bus = ParseHex(fields[1], 2);
  const std::optional<uint64_t> device = ParseHex(slot[0], 2);
  const std::optional<uint64_t> function = ParseHex(slot[1], 1);
  if (!domain || !bus || !device || *device > 0x1f || !function ||
      *function > 7) {
    return std::nullopt;
  }
  return cl_device_pci_bus_info_khr{
      static_cast<cl_uint>(*domain), static_cast<cl_uint>(*bus),
      static_cast<cl_uint>(*device), static_cast<cl_uint>(*function)};
}

using Uuid = std::array<cl_uchar, CL_UUID_SIZE_KHR>;

// Two hexadecimal digits per byte, nothing between them.
std::optional<Uuid> ParseUuid(std::string_view text) {
  Uuid uuid;
  if (text.size() != 2 * uuid.size()) return std::nullopt;
  for (size_t i = 0; i < uuid.size(); ++i) {
    const std::optional<uint64_t> byte = ParseHex(text.substr(2 * i, 2), 2);
    if (!byte) return std::nullopt;
    uuid[i] = static_cast<cl_uchar>(*byte);
  }
  return uuid;
}

// The setting `key` of device number `device`, parsed: nullopt when it is
// unset or malformed.
template <typename T>
std::optional<T> ParsedSetting(int device, const char* key,
                               std::optional<T> (*parse)(std::string_view)) {
  const std::string name = DeviceVariable(device, key);
  const std::optional<std::string> text = GetSetting(name);
  if (!text) return std::nullopt;
  std::optional<T> value = parse(*text);
  if (!value) WarnMalformed(name, *text);
  return value;
}

std::optional<cl_device_pci_bus_info_khr> PciBusInfo(int device) {
  return ParsedSetting(device, KeyName(DeviceKey::kPciBus), ParsePciAddress);
}

std::optional<Uuid> DeviceUuid(int device) {
  return ParsedSetting(device, KeyName(DeviceKey::kUuid), ParseUuid);
}

// The default list, with the extensions for the identity that the device's
// PCI_BUS and UUID give it.
std::string DefaultExtensions(int device) {
  std::string extensions = kDefaultExtensions;
  if (PciBusInfo(device)) extensions += " cl_khr_pci_bus_info";
  if (DeviceUuid(device)) extensions += " cl_khr_device_uuid";
  return extensions;
}

// Answers a query of a key that has no default: unset, the query fails as
// one of a parameter that the device does not know.
template <typename T>
cl_int OptionalScalar(const std::optional<T>& value, const InfoOut& out) {
  return value ? out.Scalar(*value) : CL_INVALID_VALUE;
}

}  // namespace

std::optional<DeviceKey> ConfiguredKey(cl_device_info param) {
  for (const KeyInfo& info : kKeys) {
    if (info.param == param) return info.key;
  }
  return std::nullopt;
}

cl_int ConfiguredDeviceInfo(int device, DeviceKey key, const InfoOut& out) {
  LogEvent("query " + std::to_string(device) + " " + KeyName(key));
  if (std::optional<cl_int> status = FailingStatus(device, key)) {
    return *status;
  }
  const std::string name = DeviceVariable(device, KeyName(key));
  constexpr uint64_t kMaxUint = std::numeric_limits<cl_uint>::max();
  constexpr uint64_t kMaxUlong = std::numeric_limits<cl_ulong>::max();
  switch (key) {
    case DeviceKey::kName:
      return out.Text(GetSetting(name).value_or(kDefaultName));
    case DeviceKey::kExtensions: {
      // Explicit text is exact: it gains no identity extensions.
      const std::optional<std::string> text = GetSetting(name);
      return out.Text(text ? *text : DefaultExtensions(device));
    }
    case DeviceKey::kMaxWorkGroupSize:
      return out.Scalar<size_t>(
          NumberSetting(name, kDefaultMaxWorkGroupSize, SIZE_MAX));
    case DeviceKey::kMaxWorkItemSizes:
      return out.Array(WorkItemSizes(name));
    case DeviceKey::kMaxMemAllocSize:
      return out.Scalar<cl_ulong>(
          NumberSetting(name, kDefaultMaxMemAllocSize, kMaxUlong));
    case DeviceKey::kAvailable:
    case DeviceKey::kCompilerAvailable:
      return out.Scalar<cl_bool>(NumberSetting(name, CL_TRUE, kMaxUint));
    case DeviceKey::kGlobalMemSize:
      return GlobalMemSize(device, name, out);
    case DeviceKey::kPciBus:
      return OptionalScalar(PciBusInfo(device), out);
    case DeviceKey::kUuid:
      return OptionalScalar(DeviceUuid(device), out);
  }
  return CL_INVALID_VALUE;
}

ProfilingClock ConfiguredClock(int device) {
  ProfilingClock clock;
  clock.slowdown = NumberSetting(DeviceVariable(device, "SLOWDOWN"), 1, 1000);
  const std::string name = DeviceVariable(device, "STUCK_CLOCK");
  if (const std::optional<std::string> text = GetSetting(name)) {
    const std::optional<std::vector<uint64_t>> times = ParseNumbers(*text);
    if (times && times->size() == 2) {
      clock.stuck = std::array<cl_ulong, 2>{(*times)[0], (*times)[1]};
    } else {
      WarnMalformed(name, *text);
    }
  }
  return clock;
}

}  // namespace simgpu
