#include "bench/report.h"

#include <optional>
#include <utility>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "bench/summary.h"

namespace vramcheck::bench {
namespace {

// The summaries both outputs show.
struct Figures {
  std::array<std::optional<Summary>, kCaseCount> gib_s;
  std::size_t unusable_intervals = 0;
  std::optional<Summary> wall_ms;
  std::optional<Summary> kernel_ms;
  std::optional<Summary> efficiency;
  std::optional<Summary> host_us_per_block;
  std::size_t unusable_passes = 0;
};

struct RatioFigure {
  const char* name;
  const char* key;
  std::optional<double> value;
};

std::optional<Summary> Percent(std::optional<Summary> fraction) {
  if (fraction) {
    fraction->median *= 100;
    fraction->min *= 100;
    fraction->max *= 100;
  }
  return fraction;
}

std::optional<double> Median(const std::optional<Summary>& summary) {
  if (!summary) return std::nullopt;
  return summary->median;
}

Figures ComputeFigures(const BenchResults& results) {
  Figures figures;
  for (int c = 0; c < kCaseCount; ++c) {
    std::vector<double> rates =
        UsableGibPerSecond(kCases[c].bytes, results.case_ns[c]);
    figures.unusable_intervals += results.case_ns[c].size() - rates.size();
    figures.gib_s[c] = Summarize(std::move(rates));
  }

  std::vector<double> wall_ms;
  std::vector<double> kernel_ms;
  std::vector<double> efficiency;
  std::vector<double> host_us;
  for (const PassSample& pass : results.passes) {
    wall_ms.push_back(static_cast<double>(pass.wall_ns) / 1e6);
    const std::optional<double> pass_efficiency = Efficiency(pass);
    if (!pass_efficiency) {
      ++figures.unusable_passes;
      continue;
    }
    kernel_ms.push_back(*pass.kernel_ns / 1e6);
    efficiency.push_back(*pass_efficiency);
    host_us.push_back(*HostNsPerBlock(pass, results.blocks) / 1e3);
  }
  figures.wall_ms = Summarize(std::move(wall_ms));
  figures.kernel_ms = Summarize(std::move(kernel_ms));
  figures.efficiency = Summarize(std::move(efficiency));
  figures.host_us_per_block = Summarize(std::move(host_us));
  return figures;
}

std::array<RatioFigure, 6> Ratios(const Figures& figures) {
  const auto median = [&](Case c) { return Median(figures.gib_s[c]); };
  return {{
      {"Write / plain store", "write_per_plain_store",
       Ratio(median(kWrite), median(kPlainStore))},
      {"Read / plain load", "read_per_plain_load",
       Ratio(median(kRead), median(kPlainLoad))},
      {"Read / permuted load", "read_per_permuted_load",
       Ratio(median(kRead), median(kPermutedLoad))},
      {"pass efficiency", "pass_efficiency", Median(figures.efficiency)},
      {"fill / plain store", "fill_per_plain_store",
       Ratio(median(kFill), median(kPlainStore))},
      {"copy / plain load", "copy_per_plain_load",
       Ratio(median(kCopy), median(kPlainLoad))},
  }};
}

std::string Row(std::string_view label, const std::optional<Summary>& summary,
                std::size_t total, int precision) {
  if (!summary) {
    return fmt::format("  {:<24}{:>10}{:>10}{:>10}{:>8}\n", label, "n/a", "n/a",
                       "n/a", fmt::format("0/{}", total));
  }
  return fmt::format("  {:<24}{:>10.{}f}{:>10.{}f}{:>10.{}f}{:>8}\n", label,
                     summary->median, precision, summary->min, precision,
                     summary->max, precision,
                     fmt::format("{}/{}", summary->count, total));
}

std::string JsonNumber(std::optional<double> value) {
  return value ? fmt::format("{}", *value) : "null";
}

std::string JsonSummary(const std::optional<Summary>& summary) {
  if (!summary) return "null";
  return fmt::format(R"({{"median": {}, "min": {}, "max": {}, "count": {}}})",
                     summary->median, summary->min, summary->max,
                     summary->count);
}

}  // namespace

std::string FormatReport(const BenchResults& results) {
  const Figures figures = ComputeFigures(results);
  std::string text = fmt::format("  {:<24}{:>10}{:>10}{:>10}{:>8}\n", "GiB/s",
                                 "median", "min", "max", "reps");
  for (int c = 0; c < kCaseCount; ++c) {
    text += Row(kCases[c].name, figures.gib_s[c], results.case_ns[c].size(), 2);
  }
  text += fmt::format("\n  {:<24}{:>10}{:>10}{:>10}{:>8}\n",
                      fmt::format("pass over {} blocks", results.blocks),
                      "median", "min", "max", "passes");
  text += Row("wall time (ms)", figures.wall_ms, results.passes.size(), 3);
  text += Row("kernel time (ms)", figures.kernel_ms, results.passes.size(), 3);
  text += Row("efficiency (%)", Percent(figures.efficiency),
              results.passes.size(), 1);
  text += Row("host time per block (us)", figures.host_us_per_block,
              results.passes.size(), 1);
  text += "\n";
  for (const RatioFigure& ratio : Ratios(figures)) {
    if (ratio.value) {
      text +=
          fmt::format("  {:<24}{:>9.1f} %\n", ratio.name, *ratio.value * 100);
    } else {
      text += fmt::format("  {:<24}{:>10}\n", ratio.name, "n/a");
    }
  }
  if (figures.unusable_intervals + figures.unusable_passes > 0) {
    text += fmt::format(
        "\n  left out: {} zero or negative profiling intervals, {} passes "
        "whose profiled kernel time was missing or exceeded the wall time\n",
        figures.unusable_intervals, figures.unusable_passes);
  }
  return text;
}

std::string FormatJson(const BenchResults& results) {
  const Figures figures = ComputeFigures(results);
  std::string json = "{\n";
  json += fmt::format("  \"platform\": {},\n", JsonString(results.platform));
  json += fmt::format("  \"device\": {},\n", JsonString(results.device));
  json += fmt::format("  \"driver\": {},\n", JsonString(results.driver));
  json += fmt::format("  \"started\": {},\n", JsonString(results.started));
  json += fmt::format("  \"warmups\": {},\n", results.warmups);
  json += fmt::format("  \"reps\": {},\n", results.reps);
  json += "  \"cases\": {\n";
  for (int c = 0; c < kCaseCount; ++c) {
    json += fmt::format(
        "    \"{}\": {{\"bytes\": {}, \"elapsed_ns\": [{}], \"gib_s\": "
        "{}}}{}\n",
        kCases[c].key, kCases[c].bytes, fmt::join(results.case_ns[c], ", "),
        JsonSummary(figures.gib_s[c]), c + 1 < kCaseCount ? "," : "");
  }
  json += "  },\n";

  std::vector<std::int64_t> wall_ns;
  std::vector<std::string> kernel_ns;
  for (const PassSample& pass : results.passes) {
    wall_ns.push_back(pass.wall_ns);
    kernel_ns.push_back(pass.kernel_ns ? fmt::format("{:.0f}", *pass.kernel_ns)
                                       : "null");
  }
  json += fmt::format(
      "  \"pass\": {{\"blocks\": {}, \"wall_ns\": [{}], \"kernel_ns\": [{}], "
      "\"efficiency\": {}, \"host_us_per_block\": {}}},\n",
      results.blocks, fmt::join(wall_ns, ", "), fmt::join(kernel_ns, ", "),
      JsonSummary(figures.efficiency), JsonSummary(figures.host_us_per_block));

  json += "  \"ratios\": {";
  const char* separator = "";
  for (const RatioFigure& ratio : Ratios(figures)) {
    json += fmt::format("{}\"{}\": {}", separator, ratio.key,
                        JsonNumber(ratio.value));
    separator = ", ";
  }
  json += "}\n}\n";
  return json;
}

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      quoted += fmt::format("\\u{:04x}", static_cast<unsigned char>(c));
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace vramcheck::bench
