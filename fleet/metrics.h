#ifndef VRAMCHECK_FLEET_METRICS_H_
#define VRAMCHECK_FLEET_METRICS_H_

#include <string>
#include <vector>

#include "judge.h"
#include "record.h"

namespace vramcheck::fleet {

// The GPU check's results in Prometheus's text format, as node_exporter's
// textfile collector reads them: per device (labels device, model_name,
// and pci_bus_id and uuid where known) its run's word and bit errors, write
// and read bandwidth in bytes per second (where a pass was whole), passes,
// bytes and seconds tested, a verdict gauge per verdict and the run's end
// in seconds since the epoch; per machine the verdict. HELP and TYPE lines
// never change, so that files from different versions agree; no sample has
// a time stamp and no label changes from run to run. `end_seconds` is the
// check's end.
std::string MetricsText(const std::vector<ResultRecord>& records,
                        Verdict machine, double end_seconds);

// `text` (UTF-8, as every text of a record is) as a label value: control
// bytes made blanks, backslashes and double quotes escaped.
std::string LabelValue(const std::string& text);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_METRICS_H_
