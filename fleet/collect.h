#ifndef VRAMCHECK_FLEET_COLLECT_H_
#define VRAMCHECK_FLEET_COLLECT_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "record.h"

namespace vramcheck::fleet {

// The most tasks a job array may have for the collector to name those
// missing; a job that claims more is refused in one line.
constexpr std::uint64_t kMaxArrayTasks = 1000000;

// What the collector found wrong, one line each, besides the verdicts.
struct Collection {
  std::vector<ResultRecord> records;  // one per task run, the latest
  std::vector<std::string> problems;
};

// The records in result files and folders of them (their .jsonl and .tsv
// files, and with `with_unfinished` the .part files of runs that did not
// finish), read without their series; `problems` gets a line for each file
// that cannot be read, is empty, holds something else or did not finish.
std::vector<ResultRecord> ReadResults(const std::vector<std::string>& args,
                                      bool with_unfinished,
                                      std::vector<std::string>& problems);

// Merges the records of many files: a task that ran again (its restart
// count higher) replaces its earlier run, which is named; then names each
// task that its job array's tasks, as the records give them, include and no
// record holds.
void MergeRecords(std::vector<ResultRecord> records, Collection& out);

// The missing tasks of a job as lines: "job J: task T left no row", or for
// a run of them "job J: tasks A-B left no row" (":S" for a step S), or one
// line refusing an implausible array. `present` holds the tasks seen.
std::vector<std::string> MissingTasks(const std::string& job,
                                      const TaskArray& array,
                                      const std::set<std::uint64_t>& present);

// `gpu-check collect [--slow-below PERCENT] [--html FILE] RESULT...`: the
// table of the results in files and folders of them (and with --html their
// page in FILE), the problems on standard error, and the exit status: 1
// errors, 2 a failure or a problem (a page it cannot write among them), 3
// slow, 0.
int Collect(const std::vector<std::string>& args);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_COLLECT_H_
