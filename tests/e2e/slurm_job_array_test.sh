#!/usr/bin/env bash
# Runs the vramcheck job array on a one-node Slurm cluster of its own
# (munged, slurmctld and slurmd in a temporary folder, on free ports) against
# the simulated GPU with two devices, a bit fault injected on device 1, and
# checks the collected table and the tasks' exit statuses in Slurm: device 0
# clean, device 1 with errors. Ends every daemon it started; exits 77 where
# it cannot run.
# Usage: slurm_job_array_test.sh VRAMCHECK SIMGPU_VENDORS_DIR SCRIPTS_DIR
set -euo pipefail

vramcheck=$1 vendors=$2 scripts=$3
PATH=$PATH:/usr/sbin
daemons=()

skip() { echo "Skipped: $*"; exit 77; }

# Prints the daemons' logs and the tasks' output and fails.
fail() {
  echo "FAILED: $*"
  tail -n 20 "$dir"/*.log "$dir"/slurm-*.out 2>/dev/null || true
  exit 1
}

stop_daemons() {
  local i
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
    kill "${daemons[i]}" 2>/dev/null || true
    wait "${daemons[i]}" 2>/dev/null || true
  done
  rm -rf "$dir"
}

# Waits up to LIMIT seconds for COMMAND to succeed.
# Arguments: LIMIT COMMAND...
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "timed out waiting for: $*"
    sleep 0.5
  done
}

listening() { (: < "/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Prints a TCP port P such that nothing listens on P and P + 1.
free_ports() {
  local port
  for ((port = 20000 + RANDOM % 20000; ; port += 2)); do
    listening "$port" || listening $((port + 1)) || { echo "$port"; return; }
  done
}

start_munged() {
  dd if=/dev/urandom of="$dir/munge.key" bs=1024 count=1 status=none
  chmod 400 "$dir/munge.key"
  munged --foreground --force --socket="$dir/munge.socket" \
    --key-file="$dir/munge.key" --pid-file="$dir/munged.pid" \
    --seed-file="$dir/munged.seed" 2> "$dir/munged.log" &
  daemons+=($!)
  wait_for 10 test -S "$dir/munge.socket"
}

write_slurm_conf() {
  local host port
  host=$(hostname -s)
  port=$(free_ports)
  mkdir "$dir/state" "$dir/spool"
  cat > "$dir/slurm.conf" <<EOF
ClusterName=vramcheck-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=$host Default=YES State=UP MaxTime=INFINITE
EOF
  export SLURM_CONF=$dir/slurm.conf
}

node_idle() { [ "$(sinfo -h -o %t 2>/dev/null)" = idle ]; }
job_done() { [ -z "$(squeue -h -j "$job" 2>/dev/null)" ]; }
task_exit_code() { scontrol -o show job "${job}_$1" | grep -o 'ExitCode=[0-9:]*'; }

[ "$(id -u)" -eq 0 ] || skip "not root: the test starts slurmd, which must run as root"
for program in munged slurmctld slurmd sbatch squeue sinfo scontrol; do
  command -v "$program" > /dev/null ||
    skip "$program is not installed (packages slurm-wlm, munge)"
done

dir=$(mktemp -d)
chmod 711 "$dir"
trap stop_daemons EXIT
trap 'exit 1' INT TERM
start_munged
write_slurm_conf
slurmctld -D > "$dir/slurmctld.log" 2>&1 &
daemons+=($!)
slurmd -D > "$dir/slurmd.log" 2>&1 &
daemons+=($!)
wait_for 60 node_idle

# Both tasks see both devices; only task 1's tester gets the fault. PoCL
# compiles the test program anew into its own cache (seconds), within the
# half minute of each task.
cat > "$dir/vramcheck" <<EOF
#!/bin/sh
[ "\$SLURM_ARRAY_TASK_ID" != 1 ] || export SIMGPU_BIT_FAULTS=0:0x1000:0x00000100
exec "$vramcheck" "\$@"
EOF
chmod +x "$dir/vramcheck"
export OCL_ICD_VENDORS=$vendors SIMGPU_PLATFORMS=2 \
  SIMGPU_DEVICE0_NAME="Simulated GPU A" SIMGPU_DEVICE1_NAME="Simulated GPU B" \
  SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
  SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x18000008 POCL_CACHE_DIR=$dir/pocl \
  VRAMCHECK_PROGRAM=$dir/vramcheck VRAMCHECK_MINUTES=0.5 \
  VRAMCHECK_RESULTS=$dir/results

job=$(sbatch --parsable --array=0-1 --chdir="$dir" \
  --output="$dir/slurm-%A_%a.out" "$scripts/slurm/vramcheck-array.sbatch")
wait_for 90 job_done
table=$("$scripts/slurm/collect-results" "$dir"/results/*.tsv) ||
  fail "no results"
echo "$table"
grep -Eq '^[^ ]+ +0 +Simulated GPU A +2/3 +[0-9.]+ +0 +clean$' <<< "$table" ||
  fail "device 0 is not reported clean"
grep -Eq '^[^ ]+ +1 +Simulated GPU B +2/3 +[0-9.]+ +[1-9][0-9]* +errors$' \
  <<< "$table" || fail "device 1 is not reported with errors"
[ "$(task_exit_code 0)" = ExitCode=0:0 ] || fail "task 0: $(task_exit_code 0)"
[ "$(task_exit_code 1)" = ExitCode=1:0 ] || fail "task 1: $(task_exit_code 1)"
