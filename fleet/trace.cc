#include "trace.h"

#include <langinfo.h>

#include <algorithm>
#include <clocale>
#include <cmath>

#include <fmt/format.h>

namespace vramcheck::fleet {
namespace {

constexpr const char* kBlocks[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
constexpr char kAscii[] = "_.:-=+*#";

}  // namespace

double BandwidthTop(const std::vector<ResultRecord>& records,
                    std::initializer_list<double PassFigures::*> figures) {
  double highest = 0;
  double median = 0;
  for (const ResultRecord& r : records) {
    const auto bandwidth = Bandwidth(r);
    for (const auto figure : figures) {
      for (const PassFigures& pass : r.passes) {
        highest = std::max(highest, pass.*figure);
      }
      if (bandwidth) {
        median = std::max(median, figure == &PassFigures::write_gibs
                                      ? bandwidth->first
                                      : bandwidth->second);
      }
    }
  }
  return std::min(highest, 1.5 * median);
}

bool LocaleIsUtf8() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = current != nullptr ? current : "C";
  bool utf8 = false;
  if (std::setlocale(LC_CTYPE, "") != nullptr) {
    const std::string codeset = nl_langinfo(CODESET);
    utf8 = codeset == "UTF-8" || codeset == "utf8";
  }
  std::setlocale(LC_CTYPE, saved.c_str());
  return utf8;
}

std::string Trace(const std::vector<PassFigures>& passes,
                  double PassFigures::*figure, double top, bool utf8) {
  if (passes.empty()) return "";
  double total = 0;
  for (const PassFigures& pass : passes) total += pass.seconds;
  // Passes without a duration count one share each.
  const bool timed = total > 0;
  if (!timed) total = static_cast<double>(passes.size());
  const std::size_t width = std::min(passes.size(), kTraceWidth);
  const double share = total / static_cast<double>(width);
  std::vector<double> lowest(width, INFINITY);
  double start = 0;
  for (const PassFigures& pass : passes) {
    const double end = start + (timed ? pass.seconds : 1);
    // The shares from the one holding its start to the one holding its
    // last instant: a pass that ends on a share's border stays out of it.
    const auto column = [&](double shares) {
      return static_cast<std::size_t>(
          std::clamp(shares, 0.0, static_cast<double>(width - 1)));
    };
    const std::size_t first = column(std::floor(start / share));
    const std::size_t last =
        std::max(first, column(std::ceil(end / share - 1e-9) - 1));
    for (std::size_t c = first; c <= last; ++c) {
      lowest[c] = std::min(lowest[c], pass.*figure);
    }
    start = end;
  }
  std::string line;
  for (const double value : lowest) {
    const double level = top > 0 ? std::floor(value / top * 8) : 0;
    const auto index = static_cast<std::size_t>(std::clamp(level, 0.0, 7.0));
    line += utf8 ? std::string(kBlocks[index]) : std::string(1, kAscii[index]);
  }
  return line;
}

std::string TraceLines(const std::vector<ResultRecord>& records, bool utf8) {
  const double write = BandwidthTop(records, {&PassFigures::write_gibs});
  const double read = BandwidthTop(records, {&PassFigures::read_gibs});
  std::string lines = fmt::format(
      "trace: bandwidth over each device's run, each character the slowest "
      "pass of its share, on one scale: write up to {:.2f} GiB/s, read up "
      "to {:.2f} GiB/s\n",
      write, read);
  for (const ResultRecord& r : records) {
    const auto trace = [&](double PassFigures::*figure, double top) {
      const std::string text = Trace(r.passes, figure, top, utf8);
      return text.empty() ? std::string("-") : text;
    };
    lines +=
        fmt::format("trace: device {} write {} read {}\n",
                    r.device ? std::to_string(*r.device) : std::string("-"),
                    trace(&PassFigures::write_gibs, write),
                    trace(&PassFigures::read_gibs, read));
  }
  return lines;
}

}  // namespace vramcheck::fleet
