#include "slurm_task.h"

#include <optional>

#include <fmt/format.h>

#include "device_runs.h"
#include "drivers.h"
#include "output.h"
#include "result_file.h"
#include "settings.h"
#include "subprocess.h"

namespace vramcheck::fleet {
namespace {

constexpr std::uint64_t kMaxTask = 100000000;

// The array's tasks as Slurm tells them; a lone task without them.
TaskArray ArrayFromSlurm(std::uint64_t task) {
  const auto read = [](const char* name) {
    return ParseWhole(Env(name), 0, kMaxTask);
  };
  const auto count = read("SLURM_ARRAY_TASK_COUNT");
  const auto min = read("SLURM_ARRAY_TASK_MIN");
  const auto max = read("SLURM_ARRAY_TASK_MAX");
  const auto step = read("SLURM_ARRAY_TASK_STEP");
  TaskArray array{task, task, 1, 1};
  if (min && max && *min <= *max) {
    array.min = *min;
    array.max = *max;
    array.step = step.value_or(1) > 0 ? step.value_or(1) : 1;
    array.count = (*max - *min) / array.step + 1;
  } else if (count && *count > 0) {
    array = {0, *count - 1, 1, *count};
  }
  if (count) array.count = *count;
  return array;
}

class SlurmTask {
 public:
  int Run();

 private:
  // Writes the result, prints its row and gives the exit status.
  int Report(Verdict verdict, const std::string& message);

  ResultRecord record_;
  ResultFile result_;
  DriverRegistration drivers_;
  std::uint64_t share_ = 90;
  std::uint64_t seconds_ = 600;
  std::string minutes_;
};

int SlurmTask::Report(Verdict verdict, const std::string& message) {
  record_.verdict = verdict;
  record_.message = message;
  int status = VerdictStatus(verdict, CaughtSignal());
  if (!result_.Write(record_, true)) {
    Complain("cannot write " + result_.path());
    if (verdict != Verdict::kErrors) status = 2;
  }
  Say(RowLine(record_) + "\n");
  if (verdict == Verdict::kInterrupted) DieBy(CaughtSignal());
  return status;
}

int SlurmTask::Run() {
  const std::string task_text = Env("SLURM_ARRAY_TASK_ID");
  const auto task = ParseWhole(task_text, 0, kMaxTask);
  if (!task) {
    Complain("not a job array task: SLURM_ARRAY_TASK_ID is '" + task_text +
             "'");
    return 2;
  }
  record_.job = Env("SLURM_ARRAY_JOB_ID", "local");
  record_.task = *task;
  record_.array = ArrayFromSlurm(*task);
  record_.restart = ParseWhole(Env("SLURM_RESTART_COUNT"), 0, kMaxTask)
                        .value_or(0);
  record_.started = UtcNow();
  record_.host = HostName();
  record_.gpu = SchedulerGpu();
  record_.message = "the task did not finish";
  // Nothing is tested when its result could not be kept. Until the task
  // ends, its result says that it did not.
  const std::string folder = Env("VRAMCHECK_RESULTS", "vramcheck-results");
  if (!result_.Create(folder, record_) || !result_.Write(record_, false)) {
    Complain("cannot write into " + folder);
    return 2;
  }
  CatchSignals();
  const std::string share = Env("VRAMCHECK_SHARE", "90");
  minutes_ = Env("VRAMCHECK_MINUTES", "10");
  std::string error;
  const auto parsed_share = ParseWhole(share, 1, 100);
  const auto parsed_seconds = ParseMinutes(minutes_);
  const auto stall = StallSeconds(error);
  if (!parsed_share) {
    return Report(
        Verdict::kFailed,
        "VRAMCHECK_SHARE is not a percentage from 1 to 100: " + share);
  }
  if (!parsed_seconds) {
    return Report(Verdict::kFailed,
                  "VRAMCHECK_MINUTES is not a number above 0: " + minutes_);
  }
  if (!stall) return Report(Verdict::kFailed, error);
  share_ = *parsed_share;
  seconds_ = *parsed_seconds;
  if (!Say(fmt::format("Task {} on {}: GPU check for {} minutes\n", *task,
                       Printable(record_.host), minutes_))) {
    Complain("cannot write to standard output");
    return 2;
  }
  std::vector<std::string> notes;
  if (!drivers_.Register(notes, error)) {
    return Report(Verdict::kFailed, error);
  }
  std::vector<ListedDevice> listed;
  if (!ProbeDevices(listed, error)) {
    if (CaughtSignal() != 0) {
      return Report(Verdict::kInterrupted,
                    "interrupted by " + SignalName(CaughtSignal()));
    }
    return Report(Verdict::kFailed, error);
  }
  const std::uint64_t device = listed.size() == 1 ? 0 : *task;
  if (device >= listed.size()) {
    return Report(Verdict::kFailed,
                  fmt::format("there is no device {}: {} listed", device,
                              listed.size()));
  }
  const ListedDevice& listed_device = listed[device];
  record_.device = static_cast<std::uint32_t>(device);
  record_.identity = listed_device.identity;
  record_.max_blocks = listed_device.max_blocks;
  if (listed_device.max_blocks < 1) {
    return Report(Verdict::kFailed, "less than one block to test");
  }
  record_.blocks = std::max<std::uint32_t>(
      1, static_cast<std::uint32_t>(listed_device.max_blocks * share_ / 100));
  result_.Write(record_, false);

  std::vector<DeviceTry> tries;
  tries.push_back({static_cast<std::uint32_t>(device), record_.blocks, "",
                   RunLog(static_cast<std::uint32_t>(device), record_.blocks,
                          static_cast<double>(seconds_)),
                   {}, {}});
  RunTries(tries, listed, static_cast<double>(seconds_),
           std::chrono::seconds(*stall));
  const DeviceTry& t = tries.front();
  TakeTry(t, record_);
  return Report(t.judgement.verdict, t.judgement.message);
}

}  // namespace

int RunSlurmTask() { return SlurmTask().Run(); }

}  // namespace vramcheck::fleet
