#ifndef VRAMCHECK_FLEET_WORKER_H_
#define VRAMCHECK_FLEET_WORKER_H_

// What runs in a child process with OpenCL: the probe that lists the
// devices, and the worker that tests one. Each sends JSON lines to the
// supervisor through `fd`:
//   {"kind":"device","index":I,"identity":{...},"max_blocks":B}  (probe)
//   {"kind":"ready","blocks":B}           the worker's blocks are prepared
//   {"kind":"block","pass":P,"block":K,"kernel":"write"|"read",
//    "device_ns":D,"host_ns":H,"word_errors":W,"bit_errors":E}
//   {"kind":"pass","pass":P}              pass P is whole
//   {"kind":"end"}                        the worker ran its whole time
//   {"kind":"error","message":"..."}      why it could not go on

#include <cstdint>

#include "record.h"

namespace vramcheck::fleet {

// Lists every testable device with its identity and block limit. Returns
// the exit status: 0, or 1 after an error line.
int ListDevicesInChild(int fd);

struct WorkerPlan {
  std::uint32_t device = 0;  // its number in the probe's list
  DeviceIdentity listed;     // what the probe listed as that device
  std::uint32_t blocks = 0;
  double seconds = 0;        // passes start until this time has passed
};

// Opens the device by number, checks that it is the one the probe listed,
// prepares the blocks and runs passes until the time is up. Returns the
// exit status: 0 after "end", 1 after an error line.
int TestInChild(int fd, const WorkerPlan& plan);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_WORKER_H_
