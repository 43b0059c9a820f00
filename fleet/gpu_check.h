#ifndef VRAMCHECK_FLEET_GPU_CHECK_H_
#define VRAMCHECK_FLEET_GPU_CHECK_H_

#include <string>

namespace vramcheck::fleet {

// The GPU check of a machine into the new or empty folder `outdir`:
// lists the devices, benchmarks each, tests all at once for a fixed time,
// one worker each, and judges them. Returns the exit status of the
// machine's verdict; ends by the signal that interrupted it.
int RunGpuCheck(const std::string& outdir);

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_GPU_CHECK_H_
