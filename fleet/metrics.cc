#include "metrics.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

constexpr Metric kWordErrors = {
    "vramcheck_word_errors",
    "Wrong 32-bit words that the device's last run found."};
constexpr Metric kBitErrors = {
    "vramcheck_bit_errors", "Wrong bits that the device's last run found."};
constexpr Metric kWrite = {
    "vramcheck_write_bytes_per_second",
    "Median write bandwidth of the last run's passes, the first left out "
    "unless it is the only one."};
constexpr Metric kRead = {
    "vramcheck_read_bytes_per_second",
    "Median read bandwidth of the last run's passes, the first left out "
    "unless it is the only one."};
constexpr Metric kPasses = {"vramcheck_passes",
                            "Whole passes of the device's last run."};
constexpr Metric kTestedBytes = {
    "vramcheck_tested_bytes", "Memory that the device's last run tested."};
constexpr Metric kTestedSeconds = {
    "vramcheck_tested_seconds", "Seconds that the device's last run tested."};
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

// A metric with one sample per record that `value` gives one for.
template <typename Value>
void PerDevice(std::string& out, const Metric& metric,
               const std::vector<ResultRecord>& records, Value value) {
  Header(out, metric);
  for (const ResultRecord& r : records) {
    if (const std::optional<double> v = value(r)) {
      out += fmt::format("{}{{{}}} {}\n", metric.name, DeviceLabels(r), *v);
    }
  }
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
  using Figure = std::optional<double>;
  std::string out;
  PerDevice(out, kWordErrors, records, [](const ResultRecord& r) -> Figure {
    return static_cast<double>(r.word_errors);
  });
  PerDevice(out, kBitErrors, records, [](const ResultRecord& r) -> Figure {
    return static_cast<double>(r.bit_errors);
  });
  PerDevice(out, kWrite, records, [](const ResultRecord& r) -> Figure {
    if (const auto bandwidth = Bandwidth(r)) {
      return bandwidth->first * kBytesPerGib;
    }
    return std::nullopt;
  });
  PerDevice(out, kRead, records, [](const ResultRecord& r) -> Figure {
    if (const auto bandwidth = Bandwidth(r)) {
      return bandwidth->second * kBytesPerGib;
    }
    return std::nullopt;
  });
  PerDevice(out, kPasses, records, [](const ResultRecord& r) -> Figure {
    return static_cast<double>(r.passes.size());
  });
  PerDevice(out, kTestedBytes, records, [](const ResultRecord& r) -> Figure {
    return r.blocks * kBlockBytes;
  });
  PerDevice(out, kTestedSeconds, records, [](const ResultRecord& r) -> Figure {
    return r.seconds;
  });
  Header(out, kDeviceVerdict);
  for (const ResultRecord& r : records) {
    for (const Verdict verdict : kVerdicts) {
      out += fmt::format("{}{{{},verdict=\"{}\"}} {}\n", kDeviceVerdict.name,
                         DeviceLabels(r), VerdictName(verdict),
                         r.verdict == verdict ? 1 : 0);
    }
  }
  PerDevice(out, kEnd, records,
            [&](const ResultRecord&) -> Figure { return end_seconds; });
  Header(out, kMachineVerdict);
  for (const Verdict verdict : kVerdicts) {
    out += fmt::format("{}{{verdict=\"{}\"}} {}\n", kMachineVerdict.name,
                       VerdictName(verdict), machine == verdict ? 1 : 0);
  }
  return out;
}

bool WriteWhole(const std::string& path, const std::string& text,
                std::string& error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name =
      slash == std::string::npos ? path : path.substr(slash + 1);
  // A name that node_exporter's "*.prom" never matches.
  std::string temporary = folder + "/." + name + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = fmt::format("cannot write into {}: {}", folder,
                        std::strerror(errno));
    return false;
  }
  std::size_t written = 0;
  errno = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  int failure = written == text.size() ? 0 : (errno != 0 ? errno : EIO);
  if (failure == 0 && fchmod(fd, 0644) != 0) failure = errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
    failure = errno;
  }
  if (failure != 0) {
    error = fmt::format("cannot write {}: {}", path, std::strerror(failure));
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace vramcheck::fleet
