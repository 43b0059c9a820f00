#ifndef VRAMCHECK_FLEET_RECORD_H_
#define VRAMCHECK_FLEET_RECORD_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "judge.h"

namespace vramcheck::fleet {

// Which physical card a device is, as far as its driver tells.
struct DeviceIdentity {
  std::string name;
  std::string vendor;
  std::string driver_version;
  std::uint64_t memory = 0;  // global memory in bytes
  std::string pci_bus;       // "dddd:bb:dd.f", or "" where unknown
  std::string uuid;          // 32 hex digits, or "" where unknown
};

// True where `now` is the card that `listed` described: same name and
// memory, and same PCI bus and UUID where both know them.
bool SameCard(const DeviceIdentity& listed, const DeviceIdentity& now);

// The tasks of a job array: from `min` to `max` in steps of `step`, `count`
// in all. A job without an array is one task, 0 to 0.
struct TaskArray {
  std::uint64_t min = 0;
  std::uint64_t max = 0;
  std::uint64_t step = 1;
  std::uint64_t count = 1;
};

// Which block of which pass showed errors, and how many.
struct ErrorBlock {
  std::uint32_t pass = 0;   // from 1
  std::uint32_t block = 0;  // from 0
  std::uint64_t word_errors = 0;
  std::uint64_t bit_errors = 0;
};

// One device's result, as the GPU check and the Slurm task write it and
// the collector reads it.
struct ResultRecord {
  std::string job;
  std::uint64_t task = 0;
  TaskArray array;
  std::uint64_t restart = 0;  // how often the scheduler ran the task again
  std::string started;  // the run's start, UTC, "2026-12-09T13:00:00Z"
  std::string host;
  std::optional<std::uint32_t> device;
  std::string gpu;      // the GPU the scheduler gave, or "-"
  DeviceIdentity identity;
  std::uint32_t blocks = 0;      // tested
  std::uint32_t max_blocks = 0;  // that fit
  double seconds = 0;            // tested
  std::vector<PassFigures> passes;
  std::vector<ErrorBlock> error_blocks;
  std::uint64_t word_errors = 0;
  std::uint64_t bit_errors = 0;
  Verdict verdict = Verdict::kFailed;
  std::string message;
  // The medians of the passes, where a record is read without its series.
  std::optional<std::pair<double, double>> bandwidth;
  bool legacy = false;  // read from a 1.2.0 row, with its figures:
  std::string legacy_write, legacy_read, legacy_total, legacy_minutes;
};

nlohmann::json IdentityJson(const DeviceIdentity& identity);
// Throws nlohmann::json's exceptions where `j` is no identity.
DeviceIdentity IdentityFromJson(const nlohmann::json& j);

// One JSON object on one line, without a line end.
std::string ToJsonLine(const ResultRecord& record);
// The record of a line that ToJsonLine wrote; throws std::exception
// (nlohmann::json's, or std::invalid_argument) for anything else. Without
// `with_series`, the passes and error blocks are skipped, which a long run
// of a fast card makes thousands of, and only their medians are read.
ResultRecord FromJsonLine(const std::string& line, bool with_series = true);
// The record of a 1.2.0 result row (14 tab-separated fields); nullopt for
// a line that is not one.
std::optional<ResultRecord> FromLegacyRow(const std::string& line);

// The table's cells of a record: Job, Task, Host, Device, GPU, Name,
// Blocks, Minutes, Write GiB/s, Read GiB/s, Total Error, Verdict, then
// Message; texts from drivers and hosts with every control character made
// a blank. Figures never depend on the locale.
std::vector<std::string> RowCells(const ResultRecord& record);
// The record as a 1.2.0 result row: Job, Task, the array's task count,
// Host, Device, GPU, Name, Blocks, Minutes, Write, Read, Total Error,
// Verdict and Message, tab-separated, control characters made blanks.
std::string RowLine(const ResultRecord& record);

// The write and read bandwidth of a record in GiB/s, the medians of its
// passes, leaving out the first, which includes the start, unless it is the
// only one; nullopt without a pass (or a legacy row without figures).
std::optional<std::pair<double, double>> Bandwidth(const ResultRecord& record);

// `text` with every control byte (0x00 to 0x1f and 0x7f) made a blank.
std::string Printable(std::string text);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_RECORD_H_
