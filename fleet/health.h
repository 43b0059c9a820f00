#ifndef VRAMCHECK_FLEET_HEALTH_H_
#define VRAMCHECK_FLEET_HEALTH_H_

#include <optional>
#include <string>
#include <vector>

#include "record.h"

namespace vramcheck::fleet {

// Why a node should be drained for `record`, in one short line that
// `sinfo -R` shows: "vramcheck: 22 errors on device 1 (PCI 0000:03:00.0)",
// or "vramcheck: device 1 (UUID ...) failed: MESSAGE"; the scheduler's GPU
// is named too where it gave one. Nullopt for a record that shows no
// errors and did not fail on its device (a run refused for its settings
// is no reason to drain).
std::optional<std::string> DrainReason(const ResultRecord& record);

// The newest record of each card among `records` of the host `host` (all
// hosts where empty): a card is its host and UUID, else PCI bus, else
// device number; newest by start, then restart count.
std::vector<ResultRecord> NewestPerCard(std::vector<ResultRecord> records,
                                        const std::string& host);

// `gpu-check health [--host HOST] RESULT...`: reads the results in files
// and folders of them, never tests, and prints the reasons to drain the
// node for the newest record of each card, "; "-separated on one line.
// Exit status 1 where one shows errors, else 2 where one failed on its
// device, else 0; 2 with a line on standard error for wrong arguments.
int Health(const std::vector<std::string>& args);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_HEALTH_H_
