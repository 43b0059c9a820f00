#include "metrics.h"

#include <array>

#include <fmt/format.h>

namespace vramcheck::fleet {
namespace {

constexpr double kBytesPerGib = 1024.0 * 1024 * 1024;
constexpr double kBlockBytes = 128.0 * 1024 * 1024;
constexpr std::array kVerdicts = {Verdict::kClean, Verdict::kFailed,
                                  Verdict::kInterrupted, Verdict::kErrors};

// One metric's HELP and TYPE lines.
struct Metric {
  const char* name;
  const char* help;
};

using Figure = std::optional<double>;

// The median write or read bandwidth in bytes per second, where a pass was
// whole.
Figure BytesPerSecond(const ResultRecord& r, bool write) {
  const auto bandwidth = Bandwidth(r);
  if (!bandwidth) return std::nullopt;
  return (write ? bandwidth->first : bandwidth->second) * kBytesPerGib;
}

// A gauge of each device that `value` gives a figure for.
struct DeviceFigure {
  Metric metric;
  Figure (*value)(const ResultRecord&);
};

const DeviceFigure kDeviceFigures[] = {
    {{"vramcheck_word_errors",
      "Wrong 32-bit words that the device's last run found."},
     [](const ResultRecord& r) -> Figure {
       return static_cast<double>(r.word_errors);
     }},
    {{"vramcheck_bit_errors", "Wrong bits that the device's last run found."},
     [](const ResultRecord& r) -> Figure {
       return static_cast<double>(r.bit_errors);
     }},
    {{"vramcheck_write_bytes_per_second",
      "Median write bandwidth of the last run's passes, the first left out "
      "unless it is the only one."},
     [](const ResultRecord& r) { return BytesPerSecond(r, true); }},
    {{"vramcheck_read_bytes_per_second",
      "Median read bandwidth of the last run's passes, the first left out "
      "unless it is the only one."},
     [](const ResultRecord& r) { return BytesPerSecond(r, false); }},
    {{"vramcheck_passes", "Whole passes of the device's last run."},
     [](const ResultRecord& r) -> Figure {
       return static_cast<double>(r.passes.size());
     }},
    {{"vramcheck_tested_bytes", "Memory that the device's last run tested."},
     [](const ResultRecord& r) -> Figure { return r.blocks * kBlockBytes; }},
    {{"vramcheck_tested_seconds", "Seconds that the device's last run tested."},
     [](const ResultRecord& r) -> Figure { return r.seconds; }},
};
constexpr Metric kDeviceVerdict = {
    "vramcheck_device_verdict",
    "1 for the verdict of the device's last run, 0 for the others."};
constexpr Metric kEnd = {
    "vramcheck_last_run_end_timestamp_seconds",
    "End of the device's last run, in seconds since the epoch."};
constexpr Metric kMachineVerdict = {
    "vramcheck_machine_verdict",
    "1 for the verdict of the machine's last GPU check, 0 for the others."};

void Header(std::string& out, const Metric& metric) {
  out += fmt::format("# HELP {} {}\n# TYPE {} gauge\n", metric.name,
                     metric.help, metric.name);
}

std::string DeviceLabels(const ResultRecord& r) {
  std::string labels = fmt::format(
      "device=\"{}\",model_name=\"{}\"",
      r.device ? std::to_string(*r.device) : std::string("-"),
      LabelValue(r.identity.name));
  if (!r.identity.pci_bus.empty()) {
    labels += ",pci_bus_id=\"" + LabelValue(r.identity.pci_bus) + "\"";
  }
  if (!r.identity.uuid.empty()) {
    labels += ",uuid=\"" + LabelValue(r.identity.uuid) + "\"";
  }
  return labels;
}

}  // namespace

std::string LabelValue(const std::string& text) {
  std::string value;
  for (const char c : Printable(text)) {
    if (c == '\\' || c == '"') value += '\\';
    value += c;
  }
  return value;
}

std::string MetricsText(const std::vector<ResultRecord>& records,
                        Verdict machine, double end_seconds) {
  std::string out;
  for (const DeviceFigure& figure : kDeviceFigures) {
    Header(out, figure.metric);
    for (const ResultRecord& r : records) {
      if (const Figure value = figure.value(r)) {
        out += fmt::format("{}{{{}}} {}\n", figure.metric.name,
                           DeviceLabels(r), *value);
      }
    }
  }
  Header(out, kDeviceVerdict);
  for (const ResultRecord& r : records) {
    for (const Verdict verdict : kVerdicts) {
      out += fmt::format("{}{{{},verdict=\"{}\"}} {}\n", kDeviceVerdict.name,
                         DeviceLabels(r), VerdictName(verdict),
                         r.verdict == verdict ? 1 : 0);
    }
  }
  Header(out, kEnd);
  for (const ResultRecord& r : records) {
    out += fmt::format("{}{{{}}} {}\n", kEnd.name, DeviceLabels(r),
                       end_seconds);
  }
  Header(out, kMachineVerdict);
  for (const Verdict verdict : kVerdicts) {
    out += fmt::format("{}{{verdict=\"{}\"}} {}\n", kMachineVerdict.name,
                       VerdictName(verdict), machine == verdict ? 1 : 0);
  }
  return out;
}

}  // namespace vramcheck::fleet
