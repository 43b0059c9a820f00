// gpu-check: checks every GPU of a machine with the tester's engine, one
// worker process per device, and judges what each block of each pass
// reported; runs a task of the Slurm job array; collects results and
// tells from them whether a node should be drained.
//
//   gpu-check OUTDIR
//   gpu-check task
//   gpu-check collect [--slow-below PERCENT] [--html FILE] RESULT...
//   gpu-check health [--host HOST] RESULT...

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "collect.h"
#include "gpu_check.h"
#include "health.h"
#include "output.h"
#include "slurm_task.h"

namespace {

constexpr const char* kUsage =
    "usage: gpu-check OUTDIR\n"
    "       gpu-check task\n"
    "       gpu-check collect [--slow-below PERCENT] [--html FILE] "
    "RESULT...\n"
    "       gpu-check health [--host HOST] RESULT...\n";

int Run(const std::vector<std::string>& args) {
  using namespace vramcheck::fleet;
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (args[0] == "--help") return Say(kUsage) ? 0 : 2;
  if (args[0] == "--version")
    return Say("gpu-check " VRAMCHECK_VERSION "\n") ? 0 : 2;
  if (args[0] == "collect") return Collect({args.begin() + 1, args.end()});
  if (args[0] == "health") return Health({args.begin() + 1, args.end()});
  if (args[0] == "task" && args.size() == 1) return RunSlurmTask();
  if (args.size() != 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return RunGpuCheck(args[0]);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run({argv + 1, argv + argc});
  } catch (const std::exception& error) {
    vramcheck::fleet::Complain(error.what());
    return 2;
  }
}
