#include "gpu_check.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "device_runs.h"
#include "drivers.h"
#include "metrics.h"
#include "output.h"
#include "report.h"
#include "result_file.h"
#include "settings.h"
#include "subprocess.h"
#include "table.h"
#include "trace.h"

namespace vramcheck::fleet {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kDefaultSeconds = 180;
constexpr auto kBenchLimit = std::chrono::seconds(300);
constexpr auto kRecordLimit = std::chrono::seconds(30);
constexpr int kSlowPercent = 80;

// What the check knows of one device it was asked to test.
struct DeviceState {
  std::uint32_t number = 0;
  ListedDevice listed;
  std::optional<Judgement> judgement;  // set once it is judged
  bool benchmarked = false;            // its benchmark ran to its end
  std::string bench_failure;           // how it failed, or ""
  std::optional<DeviceTry> last_try;
  std::vector<std::uint32_t> sizes;  // block counts still to try
  ResultFile result;
};

class GpuCheck {
 public:
  explicit GpuCheck(std::string outdir) : outdir_arg_(std::move(outdir)) {}
  int Run();

 private:
  int CannotRun(const std::string& line);
  bool WriteMetrics(const std::vector<ResultRecord>& records, Verdict machine);
  bool ReadSettings();
  bool PrepareOutdir();
  void Note(const std::string& line);
  void Record(const std::vector<std::string>& argv);
  bool Probe();
  void Benchmark(DeviceState& device);
  void Test();
  int Finish();
  ResultRecord MakeRecord(const DeviceState& device, std::uint64_t task,
                          const Judgement& judgement) const;

  std::string outdir_arg_;
  std::string out_;  // the folder, once it is known to be usable
  std::string textfile_dir_;  // node_exporter's textfile folder, or ""
  DriverRegistration drivers_;
  std::uint64_t seconds_ = kDefaultSeconds;
  std::uint64_t stall_seconds_ = 0;
  std::string job_;
  std::string host_;
  std::string gpu_;
  std::string started_;
  std::vector<ListedDevice> listed_;
  std::vector<DeviceState> devices_;
  std::string tries_;  // the summary's lines on each try
};

// A check that cannot run is a failed one in the metrics too, so that they
// never keep showing an earlier run's verdict.
int GpuCheck::CannotRun(const std::string& line) {
  Complain(line);
  if (!out_.empty()) {
    std::ofstream(out_ + "/summary.txt") << "verdict: failed: " << line << "\n";
  }
  WriteMetrics({}, Verdict::kFailed);
  return 2;
}

// Writes metrics.prom into the output folder and, where a textfile folder
// is set, vramcheck.prom there; false, having said why, where it cannot.
bool GpuCheck::WriteMetrics(const std::vector<ResultRecord>& records,
                            Verdict machine) {
  const std::string text = MetricsText(
      records, machine,
      std::chrono::duration<double>(
          std::chrono::system_clock::now().time_since_epoch())
          .count());
  std::vector<std::string> paths;
  if (!out_.empty()) paths.push_back(out_ + "/metrics.prom");
  if (!textfile_dir_.empty()) paths.push_back(textfile_dir_ + "/vramcheck.prom");
  bool written = true;
  for (const std::string& path : paths) {
    if (const int error = WriteWhole(path, text)) {
      Complain(fmt::format("cannot write {}: {}", path, std::strerror(error)));
      written = false;
    }
  }
  return written;
}

bool GpuCheck::ReadSettings() {
  std::string error;
  const std::string textfile_dir = Env("GPU_CHECK_TEXTFILE_DIR");
  std::error_code not_found;
  if (!textfile_dir.empty() && !fs::is_directory(textfile_dir, not_found)) {
    CannotRun("GPU_CHECK_TEXTFILE_DIR is no folder: " + textfile_dir);
    return false;
  }
  textfile_dir_ = textfile_dir;
  const std::string seconds = Env("GPU_CHECK_SECONDS", "180");
  const auto parsed = ParseWhole(seconds, 1, 366ull * 24 * 3600);
  if (!parsed) {
    CannotRun("GPU_CHECK_SECONDS is not a whole number of seconds: " +
              seconds);
    return false;
  }
  seconds_ = *parsed;
  const auto stall = StallSeconds(error);
  if (!stall) {
    CannotRun(error);
    return false;
  }
  stall_seconds_ = *stall;
  return true;
}

// OUTDIR is a path whatever its first character, and holds nothing of an
// earlier run that could pass for this one's.
bool GpuCheck::PrepareOutdir() {
  const fs::path dir(outdir_arg_);
  std::error_code error;
  fs::create_directories(dir, error);
  if (!fs::is_directory(dir, error)) {
    CannotRun("cannot make " + outdir_arg_);
    return false;
  }
  if (!fs::is_empty(dir, error) || error) {
    CannotRun(outdir_arg_ + " is not empty; give a new or empty folder, so "
              "that no earlier run's files mix with this one's");
    return false;
  }
  const std::string absolute = fs::absolute(dir, error).lexically_normal();
  std::ofstream system(absolute + "/system.txt");
  system << UtcNow() << "\n" << host_ << "\n";
  system.close();
  if (!system) {
    CannotRun("cannot write into " + outdir_arg_);
    return false;
  }
  out_ = absolute;
  return true;
}

void GpuCheck::Note(const std::string& line) {
  std::ofstream(out_ + "/system.txt", std::ios::app) << line << "\n";
}

// Appends what a command prints, in at most 30 s, to system.txt.
void GpuCheck::Record(const std::vector<std::string>& argv) {
  std::string text = "==";
  for (const std::string& arg : argv) text += " " + arg;
  Note(text);
  Subprocess child = StartProgram(argv, {});
  child.deadline = child.started + kRecordLimit;
  std::ofstream system(out_ + "/system.txt", std::ios::app);
  child.on_line = [&](const std::string& line) { system << line << "\n"; };
  Supervise({&child});
}

bool GpuCheck::Probe() {
  std::string error;
  if (!ProbeDevices(listed_, error)) {
    if (CaughtSignal() != 0) return false;
    CannotRun(error);
    return false;
  }
  Note("== devices");
  for (std::size_t i = 0; i < listed_.size(); ++i) {
    const DeviceIdentity& id = listed_[i].identity;
    Note(fmt::format("{}: {}, {}, {}, {} bytes, {} blocks, PCI {}, UUID {}", i,
                     Printable(id.name), Printable(id.vendor),
                     Printable(id.driver_version), id.memory,
                     listed_[i].max_blocks,
                     id.pci_bus.empty() ? "-" : id.pci_bus,
                     id.uuid.empty() ? "-" : id.uuid));
  }
  std::vector<std::uint32_t> numbers;
  if (EnvSet("GPU_CHECK_DEVICES")) {
    const auto parsed = ParseDevices(Env("GPU_CHECK_DEVICES"),
                                     static_cast<std::uint32_t>(listed_.size()),
                                     error);
    if (!parsed) {
      CannotRun(error);
      return false;
    }
    numbers = *parsed;
  } else {
    for (std::uint32_t i = 0; i < listed_.size(); ++i) numbers.push_back(i);
  }
  for (const std::uint32_t number : numbers) {
    DeviceState device;
    device.number = number;
    device.listed = listed_[number];
    if (device.listed.max_blocks < 1) {
      device.judgement = {Verdict::kFailed, "less than one block to test"};
    }
    device.sizes = TrySizes(device.listed.max_blocks);
    devices_.push_back(std::move(device));
  }
  return true;
}

// Benchmarks a device, checking that the benchmark names the device that
// the probe listed.
void GpuCheck::Benchmark(DeviceState& device) {
  const std::string file = fmt::format("bench-device-{}.txt", device.number);
  Say(fmt::format("== benchmark of device {}\n", device.number));
  std::string bench = ProgramFolder() + "/vramcheck_bench";
  if (!fs::exists(bench)) {
    bench = ProgramFolder() + "/../libexec/vramcheck/vramcheck_bench";
  }
  // The benchmark takes the loader that this program runs with.
  std::vector<std::string> env;
  const std::string loader = LoadedOpenClLoader();
  if (fs::path(loader).parent_path() == fs::path(ProgramFolder())) {
    env.push_back("LD_LIBRARY_PATH=" + ProgramFolder());
  }
  Subprocess child = StartProgram({bench, std::to_string(device.number)}, env);
  child.deadline = child.started + kBenchLimit;
  std::ofstream output(out_ + "/" + file);
  std::string first_line;
  bool first = true;
  child.on_line = [&](const std::string& line) {
    if (first) first_line = line;
    first = false;
    output << line << "\n";
  };
  Supervise({&child});
  const std::string expected =
      "device: " + Printable(device.listed.identity.name) + " (";
  if (CaughtSignal() != 0) return;
  device.benchmarked = true;
  if (!ExitedCleanly(child.wait_status) || child.timed_out) {
    device.bench_failure = "failed, see " + file;
  } else if (!Printable(first_line).starts_with(expected)) {
    device.bench_failure = "failed: " + file + " names another device";
  }
}

// Tests the devices, all at once: each first on as many blocks as fit,
// then, where a try ended for want of memory before any pass finished
// (drivers that reserve memory only at a kernel's first launch), on 90 %
// and then 75 % of them. A failure after a pass is the card failing under
// load: it stands.
void GpuCheck::Test() {
  for (;;) {
    std::vector<DeviceTry> tries;
    for (DeviceState& device : devices_) {
      if (device.judgement || device.sizes.empty()) continue;
      const std::uint32_t blocks = device.sizes.front();
      device.sizes.erase(device.sizes.begin());
      Say(fmt::format("== test of device {}, {} blocks, for {} s\n",
                      device.number, blocks, seconds_));
      tries.push_back({device.number, blocks,
                       fmt::format("{}/device-{}-{}-blocks.log", out_,
                                   device.number, blocks),
                       RunLog(device.number, blocks,
                              static_cast<double>(seconds_)),
                       {}, {}});
    }
    if (tries.empty()) return;
    RunTries(tries, listed_, static_cast<double>(seconds_),
             std::chrono::seconds(stall_seconds_));
    for (DeviceTry& t : tries) {
      tries_ += fmt::format(
          "try: device {} on {} blocks, {}, Total Error {}: {}{}{}\n",
          t.device, t.blocks, SecondsText(std::round(t.log.seconds())),
          t.log.word_errors(), VerdictName(t.judgement.verdict),
          t.judgement.message.empty() ? "" : ": ", t.judgement.message);
      for (DeviceState& device : devices_) {
        if (device.number != t.device) continue;
        const bool again = RetryOnFewerBlocks(t.evidence) &&
                           !device.sizes.empty();
        if (!again) device.judgement = t.judgement;
        device.last_try = std::move(t);
      }
    }
    if (CaughtSignal() != 0) return;
  }
}

ResultRecord GpuCheck::MakeRecord(const DeviceState& device,
                                  std::uint64_t task,
                                  const Judgement& judgement) const {
  ResultRecord r;
  r.job = job_;
  r.task = task;
  r.array = {0, devices_.size() - 1, 1, devices_.size()};
  r.started = started_;
  r.host = host_;
  r.device = device.number;
  r.gpu = gpu_;
  r.identity = device.listed.identity;
  r.max_blocks = device.listed.max_blocks;
  r.verdict = judgement.verdict;
  r.message = judgement.message;
  if (device.last_try) TakeTry(*device.last_try, r);
  return r;
}

int GpuCheck::Finish() {
  const int signal = CaughtSignal();
  std::string problems;
  std::vector<ResultRecord> records;
  std::uint64_t task = 0;
  for (DeviceState& device : devices_) {
    Judgement judgement =
        device.judgement.value_or(Judgement{Verdict::kInterrupted,
                                            "interrupted by " +
                                                SignalName(signal)});
    if (!device.judgement && signal == 0) {
      judgement = {Verdict::kFailed, "the check did not test it"};
    }
    judgement = WithBenchmark(judgement, device.bench_failure);
    ResultRecord record = MakeRecord(device, task++, judgement);
    if (!device.result.Write(record, true)) {
      problems += "gpu-check: cannot write " + device.result.path() + "\n";
      if (record.verdict != Verdict::kErrors) record.verdict = Verdict::kFailed;
      record.message = "cannot write " + device.result.path();
    }
    records.push_back(std::move(record));
  }
  std::string summary = tries_;
  for (const DeviceState& device : devices_) {
    if (!device.benchmarked) continue;
    summary += fmt::format(
        "benchmark: device {} {}\n", device.number,
        device.bench_failure.empty()
            ? fmt::format("ok, bench-device-{}.txt", device.number)
            : device.bench_failure);
  }
  const std::vector<Speed> speeds = CompareSpeeds(records, kSlowPercent);
  summary += "\n" + MakeTable(records, speeds, kSlowPercent) + "\n" +
             TraceLines(records, LocaleIsUtf8()) + "\n";
  Verdict worst = WorstVerdict(records);
  const std::string verdict_line =
      fmt::format("verdict: {}\n", VerdictName(worst));
  for (const auto& [name, text] :
       {std::pair{"summary.txt", summary + verdict_line},
        std::pair{"report.html", MachinePage(records, speeds, kSlowPercent)}}) {
    if (WriteWhole(out_ + "/" + name, text) != 0) {
      problems += fmt::format("gpu-check: cannot write {}/{}\n", out_, name);
    }
  }
  if (!problems.empty() && worst == Verdict::kClean) worst = Verdict::kFailed;
  if (!WriteMetrics(records, worst) && worst == Verdict::kClean) {
    worst = Verdict::kFailed;
  }
  Say(summary + "verdict: " + std::string(VerdictName(worst)) + "\n");
  std::fputs(problems.c_str(), stderr);
  if (worst == Verdict::kInterrupted) DieBy(signal);
  return VerdictStatus(worst, signal);
}

int GpuCheck::Run() {
  host_ = HostName();
  gpu_ = SchedulerGpu();
  started_ = UtcNow();
  job_ = host_ + "-" + UtcNow(true);
  if (!ReadSettings() || !PrepareOutdir()) return 2;
  if (!Say("== GPU check into " + out_ + "\n")) {
    return CannotRun("cannot write to standard output");
  }
  CatchSignals();
  std::vector<std::string> notes;
  std::string error;
  const std::string loader = LoadedOpenClLoader();
  Note("loader: " + (loader.empty() ? std::string("-") : loader));
  if (!drivers_.Register(notes, error)) {
    return CannotRun(error);
  }
  for (const std::string& note : notes) Note(note);
  Record({"nvidia-smi", "-L"});
  Record({"clinfo", "-l"});
  if (!Probe()) {
    if (CaughtSignal() == 0) return 2;
    Complain("interrupted by " + SignalName(CaughtSignal()));
    DieBy(CaughtSignal());
  }
  for (DeviceState& device : devices_) {
    // Until the check ends, each result says that it did not.
    const ResultRecord unfinished = MakeRecord(
        device, static_cast<std::uint64_t>(&device - devices_.data()),
        {Verdict::kFailed, "the check did not finish"});
    if (!device.result.Create(out_ + "/results", unfinished) ||
        !device.result.Write(unfinished, false)) {
      return CannotRun("cannot write into " + out_ + "/results");
    }
  }
  for (DeviceState& device : devices_) {
    if (!device.judgement && CaughtSignal() == 0) Benchmark(device);
  }
  if (CaughtSignal() == 0) Test();
  return Finish();
}

}  // namespace

int RunGpuCheck(const std::string& outdir) { return GpuCheck(outdir).Run(); }

}  // namespace vramcheck::fleet
