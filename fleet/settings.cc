#include "settings.h"

#include <sys/utsname.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include <fmt/format.h>

namespace vramcheck::fleet {
namespace {

constexpr std::uint64_t kDefaultStallSeconds = 60;
constexpr std::uint64_t kYearSeconds = 366ull * 24 * 3600;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

}  // namespace

std::optional<std::uint64_t> ParseWhole(std::string_view text,
                                        std::uint64_t min, std::uint64_t max) {
  if (!AllDigits(text)) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (error != std::errc() || end != text.data() + text.size() ||
      value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

std::vector<std::string_view> Split(std::string_view text,
                                    std::string_view separators) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find_first_of(separators, start);
    fields.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

std::optional<std::uint64_t> ParseMinutes(std::string_view text) {
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? "" : text.substr(point + 1);
  if (!AllDigits(whole) || (point != std::string_view::npos &&
                            (!AllDigits(fraction) || fraction.size() > 6))) {
    return std::nullopt;
  }
  const auto minutes = ParseWhole(whole, 0, kYearSeconds / 60);
  if (!minutes) return std::nullopt;
  // Millionths of a minute, exactly: no binary fraction rounds 0.1 up.
  std::uint64_t millionths = *minutes * 1000000;
  std::uint64_t scale = 100000;
  for (const char digit : fraction) {
    millionths += static_cast<std::uint64_t>(digit - '0') * scale;
    scale /= 10;
  }
  if (millionths == 0) return std::nullopt;
  const std::uint64_t seconds = (millionths * 60 + 999999) / 1000000;
  if (seconds > kYearSeconds) return std::nullopt;
  return seconds;
}

std::optional<std::vector<std::uint32_t>> ParseDevices(std::string_view text,
                                                       std::uint32_t count,
                                                       std::string& error) {
  std::vector<std::uint32_t> devices;
  for (const std::string_view word : Split(text, " \t,")) {
    if (word.empty()) continue;
    const auto device = ParseWhole(word, 0, UINT32_MAX);
    if (!device) {
      error = fmt::format("GPU_CHECK_DEVICES: not a device number: {}", word);
      return std::nullopt;
    }
    if (*device >= count) {
      error = fmt::format("GPU_CHECK_DEVICES: there is no device {}", *device);
      return std::nullopt;
    }
    const auto number = static_cast<std::uint32_t>(*device);
    if (std::find(devices.begin(), devices.end(), number) != devices.end()) {
      error = fmt::format("GPU_CHECK_DEVICES names device {} twice", number);
      return std::nullopt;
    }
    devices.push_back(number);
  }
  if (devices.empty()) {
    error = "GPU_CHECK_DEVICES names no device";
    return std::nullopt;
  }
  return devices;
}

std::string Env(const char* name, std::string_view fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string(fallback);
}

bool EnvSet(const char* name) { return std::getenv(name) != nullptr; }

std::string HostName() {
  if (EnvSet("GPU_CHECK_HOST")) return Env("GPU_CHECK_HOST");
  utsname names = {};
  if (uname(&names) != 0) return "-";
  const std::string host = names.nodename;
  return host.substr(0, host.find('.'));
}

std::string SchedulerGpu() {
  for (const char* name : {"CUDA_VISIBLE_DEVICES", "ROCR_VISIBLE_DEVICES",
                           "GPU_DEVICE_ORDINAL", "SLURM_JOB_GPUS"}) {
    const std::string value = Env(name);
    if (!value.empty()) return value;
  }
  return "-";
}

std::optional<std::uint64_t> StallSeconds(std::string& error) {
  if (!EnvSet("GPU_CHECK_STALL_SECONDS")) return kDefaultStallSeconds;
  const std::string text = Env("GPU_CHECK_STALL_SECONDS");
  const auto seconds = ParseWhole(text, 1, 86400);
  if (!seconds) {
    error = "GPU_CHECK_STALL_SECONDS is not a whole number of seconds from 1 "
            "to 86400: " + text;
  }
  return seconds;
}

}  // namespace vramcheck::fleet
