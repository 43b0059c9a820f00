#ifndef VRAMCHECK_FLEET_SLURM_TASK_H_
#define VRAMCHECK_FLEET_SLURM_TASK_H_

namespace vramcheck::fleet {

// One task of the Slurm job array: tests the only device it sees, or else
// the device whose number is its task index, on a share of its block limit
// for a given time, writes its result file and prints its row. Settings
// from the environment (VRAMCHECK_SHARE, VRAMCHECK_MINUTES,
// VRAMCHECK_RESULTS and Slurm's SLURM_ARRAY_*). Returns the exit status
// of its verdict; ends by the signal that interrupted it.
int RunSlurmTask();

}  // namespace vramcheck::fleet

#endif  // VRAMCHECK_FLEET_SLURM_TASK_H_
