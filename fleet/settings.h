#ifndef VRAMCHECK_FLEET_SETTINGS_H_
#define VRAMCHECK_FLEET_SETTINGS_H_

// Settings from the environment and arguments, parsed strictly: a number is
// decimal digits and nothing else, whatever its leading zeros.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vramcheck::fleet {

// A whole decimal number from `min` to `max`; nullopt for anything else
// (signs, blanks, hexadecimal, an empty text, a number out of range).
std::optional<std::uint64_t> ParseWhole(std::string_view text,
                                        std::uint64_t min, std::uint64_t max);

// The fields of `text` between any of the `separators`, empty ones too.
std::vector<std::string_view> Split(std::string_view text,
                                    std::string_view separators);

// Minutes above 0, with decimals ("10", "0.5"), as whole seconds rounded
// up; nullopt for anything else or for more than a year.
std::optional<std::uint64_t> ParseMinutes(std::string_view text);

// Device numbers separated by blanks or commas, each below `count`, none
// twice. Sets `error` to a line saying what is wrong and returns nullopt
// where they are not.
std::optional<std::vector<std::uint32_t>> ParseDevices(std::string_view text,
                                                       std::uint32_t count,
                                                       std::string& error);

// The variable's value; `fallback` where it is unset (set but empty counts
// as set).
std::string Env(const char* name, std::string_view fallback = "");
bool EnvSet(const char* name);

// The host's name up to its first dot, or the GPU_CHECK_HOST setting, which
// a container sets to its node's name.
std::string HostName();

// The GPU that a scheduler gave this process, as the first of
// CUDA_VISIBLE_DEVICES, ROCR_VISIBLE_DEVICES, GPU_DEVICE_ORDINAL and
// SLURM_JOB_GPUS that is set and not empty tells it, else "-".
std::string SchedulerGpu();

// The silence after which a device counts as stopped responding, from
// GPU_CHECK_STALL_SECONDS (60 unless set); nullopt with `error` set for a
// setting that is no whole number of seconds from 1 to 86400.
std::optional<std::uint64_t> StallSeconds(std::string& error);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_SETTINGS_H_
