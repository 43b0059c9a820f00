#ifndef VRAMCHECK_FLEET_DEVICE_RUNS_H_
#define VRAMCHECK_FLEET_DEVICE_RUNS_H_

// The supervisor's side of probing and testing devices: each in child
// processes of its own, supervised, so that a driver that hangs or a card
// that stops responding is seen within a bound.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "judge.h"
#include "record.h"
#include "run_log.h"

namespace vramcheck::fleet {

// How long the probe may take.
constexpr std::chrono::seconds kProbeLimit(30);

struct ListedDevice {
  DeviceIdentity identity;
  std::uint32_t max_blocks = 0;
};

// Lists the testable devices in a child process. Returns false with `error`
// set to a line saying why where it could not.
bool ProbeDevices(std::vector<ListedDevice>& devices, std::string& error);

// One worker's try on one device.
struct DeviceTry {
  std::uint32_t device = 0;
  std::uint32_t blocks = 0;
  std::string log_file;  // where its records and driver notes went, or ""
  RunLog log;
  RunEvidence evidence;
  Judgement judgement;
};

// Puts what a try found into `record`: its blocks and seconds, its passes,
// the blocks with errors and the totals.
void TakeTry(const DeviceTry& t, ResultRecord& record);

// Tests the devices of `tries` at once, one worker each, for `seconds`,
// each ended where it sends nothing for `stall_bound`. Each worker's lines,
// and its standard error, go into its log file. Judges each try.
void RunTries(std::vector<DeviceTry>& tries,
              const std::vector<ListedDevice>& listed, double seconds,
              std::chrono::seconds stall_bound);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_DEVICE_RUNS_H_
