#include "config.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace simgpu {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
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
  const std::optional<std::string> text = GetEnv(name);
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
  const std::optional<std::string> path = GetEnv("SIMGPU_LOG");
  if (!path || path->empty()) return;
  static std::mutex* const mutex = new std::mutex;
  const std::lock_guard<std::mutex> lock(*mutex);
  std::FILE* file = std::fopen(path->c_str(), "a");
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

}  // namespace simgpu
