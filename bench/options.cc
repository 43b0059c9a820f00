#include "bench/options.h"

#include <charconv>

#include <fmt/format.h>

namespace vramcheck::bench {
namespace {

bool ParseNumber(std::string_view text, std::uint32_t min,
                 std::uint32_t& value) {
  std::uint32_t parsed = 0;
  const auto [end, status] =
      std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (status != std::errc() || end != text.data() + text.size() ||
      parsed < min) {
    return false;
  }
  value = parsed;
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string_view>& args, Options& options,
                  std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view name = args[i];
    if (name == "--list") {
      options.list = true;
      continue;
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    std::uint32_t* number = nullptr;
    std::uint32_t min = 0;
    if (name == "--platform") {
      number = &options.platform;
    } else if (name == "--device") {
      number = &options.device;
    } else if (name == "--reps") {
      number = &options.reps;
      min = 1;
    } else if (name == "--blocks") {
      number = &options.blocks;
      min = 1;
    } else if (name != "--out") {
      error = fmt::format("unknown option '{}'", name);
      return false;
    }
    if (i + 1 == args.size()) {
      error = fmt::format("{} needs a value", name);
      return false;
    }
    const std::string_view value = args[++i];
    if (number == nullptr) {
      options.out = value;
    } else if (!ParseNumber(value, min, *number)) {
      error = fmt::format("{} needs a whole number from {}, not '{}'", name,
                          min, value);
      return false;
    }
  }
  return true;
}

}  // namespace vramcheck::bench
