#include "config.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace simgpu {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The value that the file named by SIMGPU_CONFIG_FILE gives `name`: that of
// the last line "NAME=VALUE" for it (blanks around NAME ignored, VALUE taken
// as it is). The file is read on every call, so it may change at any time; a
// missing file sets nothing.
std::optional<std::string> ConfigFileValue(const std::string& name) {
  const char* path = std::getenv("SIMGPU_CONFIG_FILE");
  if (path == nullptr || *path == '\0') return std::nullopt;
  std::ifstream file(path);
  std::optional<std::string> value;
  for (std::string line; std::getline(file, line);) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      if (!TrimBlanks(line).empty()) {
        WarnMalformed("SIMGPU_CONFIG_FILE line", line);
      }
      continue;
    }
    if (TrimBlanks(std::string_view(line).substr(0, equals)) == name) {
      value = line.substr(equals + 1);
    }
  }
  return value;
}

}  // namespace

std::optional<std::string> GetSetting(const std::string& name) {
  if (std::optional<std::string> value = ConfigFileValue(name)) return value;
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string DeviceVariable(int device, std::string_view key) {
  return "SIMGPU_DEVICE" + std::to_string(device) + "_" + std::string(key);
}

void WarnMalformed(std::string_view setting, std::string_view text) {
  std::fprintf(stderr, "simgpu: ignoring malformed %.*s \"%.*s\"\n",
               static_cast<int>(setting.size()), setting.data(),
               static_cast<int>(text.size()), text.data());
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
  text = TrimBlanks(text);
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  const char* end = text.data() + text.size();
  uint64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<int32_t> ParseSigned(std::string_view text) {
  text = TrimBlanks(text);
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  const std::optional<uint64_t> magnitude = ParseNumber(text);
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  if (!magnitude || *magnitude > limit) return std::nullopt;
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(*magnitude)
                                       : static_cast<int64_t>(*magnitude));
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    fields.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

uint64_t NumberSetting(const std::string& name, uint64_t fallback,
                       uint64_t max) {
  const std::optional<std::string> text = GetSetting(name);
  if (!text) return fallback;
  const std::optional<uint64_t> value = ParseNumber(*text);
  if (!value || *value > max) {
    WarnMalformed(name, *text);
    return fallback;
  }
  return *value;
}

std::string FlagsText(uint64_t flags) {
  char text[32];
  std::snprintf(text, sizeof text, "flags 0x%llx",
                static_cast<unsigned long long>(flags));
  return text;
}

void LogEvent(const std::string& line) {
  const std::optional<std::string> path = GetSetting("SIMGPU_LOG");
  if (!path || path->empty()) return;
  static std::mutex* const mutex = new std::mutex;
  const std::lock_guard<std::mutex> lock(*mutex);
  std::FILE* file = std::fopen(path->c_str(), "a");
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

}  // namespace simgpu
