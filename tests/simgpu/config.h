#ifndef TESTS_SIMGPU_CONFIG_H_
#define TESTS_SIMGPU_CONFIG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simgpu {

// Reads a setting afresh: the value of the last line "NAME=VALUE" for it in
// the file that SIMGPU_CONFIG_FILE names, if there is one, or else the
// environment variable; nullopt when neither sets it.
std::optional<std::string> GetSetting(const std::string& name);

// "SIMGPU_DEVICE<device>_<key>", the name of a setting of one device.
std::string DeviceVariable(int device, std::string_view key);

// Tells the user on stderr that a malformed setting is being ignored.
void WarnMalformed(std::string_view setting, std::string_view text);

// A decimal or 0x-prefixed hexadecimal number, with optional blanks around.
std::optional<uint64_t> ParseNumber(std::string_view text);

// Like ParseNumber, for an int32 that may be negative.
std::optional<int32_t> ParseSigned(std::string_view text);

// The fields between separators; an empty text is one empty field.
std::vector<std::string_view> Split(std::string_view text, char separator);

// A number variable: `fallback` when unset, or malformed, or above `max`.
uint64_t NumberSetting(const std::string& name, uint64_t fallback,
                       uint64_t max);

// "flags 0x<hex>", how the log shows a bit field of memory flags.
std::string FlagsText(uint64_t flags);

// Appends a line to the file named by SIMGPU_LOG, if set. The file is opened
// and closed for every line, so each line is visible at once.
void LogEvent(const std::string& line);

}  // namespace simgpu

#endif  // TESTS_SIMGPU_CONFIG_H_
