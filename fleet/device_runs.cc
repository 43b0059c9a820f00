#include "device_runs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "subprocess.h"
#include "worker.h"

namespace vramcheck::fleet {
namespace {

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A file that a child writes its standard error into, or /dev/null.
int OpenLog(const std::string& path) {
  const int fd = path.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                              : open(path.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                                     0644);
  return fd;
}

}  // namespace

bool ProbeDevices(std::vector<ListedDevice>& devices, std::string& error) {
  devices.clear();
  std::string probe_error;
  bool garbled = false;
  const int null_fd = OpenLog("");
  Subprocess probe = StartFunction(ListDevicesInChild, null_fd);
  if (null_fd >= 0) close(null_fd);
  probe.deadline = probe.started + kProbeLimit;
  probe.on_line = [&](const std::string& line) {
    try {
      const nlohmann::json message = nlohmann::json::parse(line);
      const std::string kind = message.at("kind").get<std::string>();
      if (kind == "device") {
        devices.push_back({IdentityFromJson(message.at("identity")),
                           message.at("max_blocks").get<std::uint32_t>()});
      } else if (kind == "error" && probe_error.empty()) {
        const std::string text = message.at("message").get<std::string>();
        probe_error = text.substr(0, text.find('\n'));
      }
    } catch (const std::exception&) {
      garbled = true;  // a driver's note on standard output
    }
  };
  Supervise({&probe});
  if (CaughtSignal() != 0) {
    error = "interrupted by " + SignalName(CaughtSignal()) +
            " while listing the devices";
  } else if (probe.timed_out) {
    error = fmt::format("the OpenCL driver did not list its devices in {} s",
                        kProbeLimit.count());
  } else if (!probe_error.empty()) {
    error = probe_error;
  } else if (!ExitedCleanly(probe.wait_status)) {
    error = "listing the devices ended with " + EndedWith(probe.wait_status);
  } else if (devices.empty()) {
    error = garbled ? "the device list could not be read" : "Device not found.";
  } else {
    return true;
  }
  devices.clear();
  return false;
}

void TakeTry(const DeviceTry& t, ResultRecord& record) {
  record.blocks = t.blocks;
  record.seconds = t.log.seconds();
  record.passes = t.log.passes();
  record.error_blocks = t.log.error_blocks();
  record.word_errors = t.log.word_errors();
  record.bit_errors = t.log.bit_errors();
}

void RunTries(std::vector<DeviceTry>& tries,
              const std::vector<ListedDevice>& listed, double seconds,
              std::chrono::seconds stall_bound) {
  std::vector<std::unique_ptr<Subprocess>> workers;
  std::vector<std::FILE*> logs;
  for (DeviceTry& t : tries) {
    const int log_fd = OpenLog(t.log_file);
    std::FILE* log = log_fd >= 0 ? fdopen(dup(log_fd), "a") : nullptr;
    const WorkerPlan plan{t.device, listed[t.device].identity, t.blocks,
                          seconds};
    auto worker = std::make_unique<Subprocess>(StartFunction(
        [&plan](int fd) { return TestInChild(fd, plan); }, log_fd));
    if (log_fd >= 0) close(log_fd);
    worker->silence_bound = stall_bound;
    const Clock::time_point started = worker->started;
    worker->on_line = [&t, log, started](const std::string& line) {
      if (log != nullptr) std::fprintf(log, "%s\n", line.c_str());
      t.log.Take(line, SecondsSince(started));
    };
    workers.push_back(std::move(worker));
    logs.push_back(log);
  }
  std::vector<Subprocess*> children;
  for (auto& worker : workers) children.push_back(worker.get());
  Supervise(children);
  for (std::size_t i = 0; i < tries.size(); ++i) {
    if (logs[i] != nullptr) std::fclose(logs[i]);
    DeviceTry& t = tries[i];
    t.evidence = t.log.Evidence(workers[i]->stalled,
                                EndedWith(workers[i]->wait_status),
                                workers[i]->interrupted);
    t.judgement = JudgeRun(t.evidence);
  }
}

}  // namespace vramcheck::fleet
