#ifndef VRAMCHECK_FLEET_TABLE_H_
#define VRAMCHECK_FLEET_TABLE_H_

#include <string>
#include <string_view>
#include <vector>

#include "record.h"

namespace vramcheck::fleet {

enum class Speed { kUnknown, kOk, kSlow };

// "ok", "slow", or "-" for unknown.
std::string_view SpeedName(Speed speed);

// Each record's speed beside its siblings (the same job, name and block
// limit): slow where its write or read bandwidth is below `percent` % of
// their medians, with at least three siblings that have figures; unknown
// for fewer, or for a record without figures.
std::vector<Speed> CompareSpeeds(const std::vector<ResultRecord>& records,
                                 int percent);

// Sorts records by job, then task, host and device.
void SortRecords(std::vector<ResultRecord>& records);

// The table of `records` (sorted first): a header, one line a record with
// the cells of RowCells and the Speed column before Message, columns padded
// to the widest cell counted in UTF-8 characters, then the line on Speed.
std::string MakeTable(const std::vector<ResultRecord>& records,
                      const std::vector<Speed>& speeds, int percent);

// The worst verdict of `records`; clean for none.
Verdict WorstVerdict(const std::vector<ResultRecord>& records);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_TABLE_H_
