#!/usr/bin/env bash
# The Slurm job array for many GPUs, in one of two parts:
#   task     runs the task script without a scheduler, with the real tester
#            on the simulated GPU and with a stand-in tester where the
#            simulated GPU cannot play the card (a hung driver, a device lost
#            after errors); checks every result line, exit status and refusal
#            before testing, an interrupted task and the collected table.
#   cluster  runs the job array on a one-node Slurm cluster of its own
#            (munged, slurmctld and slurmd in a temporary folder, on free
#            ports) against four simulated GPUs of one name: a bit fault
#            injected on device 1, device 2 four times slower, device 3's name
#            over two lines. Checks the collected table and the tasks' exit
#            statuses in Slurm. Ends every daemon it started; exits 77 where
#            it cannot run.
# Usage: slurm_job_array_test.sh task|cluster VRAMCHECK SIMGPU_VENDORS_DIR
#                                SCRIPTS_DIR STAND_IN
set -euo pipefail

part=$1 vramcheck=$2 vendors=$3 scripts=$4 stand_in=$5
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
SlurmdParameters=config_overrides
NodeName=$host NodeAddr=127.0.0.1 CPUs=4 State=UNKNOWN
PartitionName=test Nodes=$host Default=YES State=UP MaxTime=INFINITE
EOF
  export SLURM_CONF=$dir/slurm.conf
}

node_idle() { [ "$(sinfo -h -o %t 2>/dev/null)" = idle ]; }
job_done() { [ -z "$(squeue -h -j "$job" 2>/dev/null)" ]; }
task_exit_code() { scontrol -o show job "${job}_$1" | grep -o 'ExitCode=[0-9:]*'; }

# Runs the task script as task TASK without a scheduler, with the settings
# given, into $dir/NAME.out and NAME.err, and its exit status into
# $dir/NAME.status. Arguments: NAME TASK [VAR=VALUE...]
run_task() {
  local name=$1 task=$2 status=0
  shift 2
  env SLURM_ARRAY_TASK_ID="$task" VRAMCHECK_MINUTES=0.1 "$@" \
    "$scripts/slurm/vramcheck-array.sbatch" >"$dir/$name.out" \
    2>"$dir/$name.err" || status=$?
  echo "$status" >"$dir/$name.status"
}

# Fails unless task NAME ended with STATUS and its result line, fields
# joined by blanks, matches the extended regex LINE.
# Arguments: NAME STATUS LINE
expect_task() {
  local result
  [[ $(<"$dir/$1.status") == "$2" ]] ||
    fail "$1: exit status $(<"$dir/$1.status"), not $2: $(cat "$dir/$1.err")"
  result=$(tail -n 1 "$dir/$1.out" | tr '\t' ' ')
  [[ $result =~ $3 ]] || fail "$1: result line '$result' does not match '$3'"
}

# Fails unless task NAME was refused with status 2 and one line, a result
# line or an error, having started no tester.
expect_refused() {
  [[ $(<"$dir/$1.status") == 2 &&
     $(cat "$dir/$1.out" "$dir/$1.err" 2>/dev/null | wc -l) == 1 ]] ||
    fail "$1: not refused with one line: $(cat "$dir/$1".{out,err})"
  [[ ! -s $dir/started ]] || fail "$1: a tester was started"
}

# Runs the collector on the files into $dir/table and fails unless it exits
# with STATUS. Arguments: STATUS FILE...
expect_collected() {
  local status=0
  "$scripts/slurm/collect-results" "${@:2}" >"$dir/table" \
    2>"$dir/table.err" || status=$?
  cat "$dir/table" "$dir/table.err"
  ((status == $1)) || fail "the collector exited with $status, not $1"
}

test_task() {
  local pid start tester
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  # The tester, logging its process number as the stand-in does.
  printf '#!/bin/sh\necho $$ >>"$STAND_IN_LOG"\nexec "%s" "$@"\n' \
    "$vramcheck" >"$dir/tester"
  chmod +x "$dir/tester"
  export OCL_ICD_VENDORS=$vendors POCL_CACHE_DIR=$dir/pocl \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 STAND_IN_LOG=$dir/started \
    VRAMCHECK_PROGRAM=$stand_in VRAMCHECK_RESULTS=$dir/results

  run_task hang 4 STAND_IN=hang STAND_IN_LOG="$dir/hang" &
  pid=$! start=$SECONDS
  run_task lost 1 STAND_IN=errors-lost
  expect_task lost 1 '^local [^ ]+ 0 Stand-in GPU 2/3 [0-9.]+ 100\.00 90\.00 99 errors then Error: clEnqueueNDRangeKernel failed with CL_INVALID_COMMAND_QUEUE \(-36\)\.$'
  # PoCL's compiler may write a note first, and the build log follows.
  run_task build 2 VRAMCHECK_PROGRAM="$vramcheck" SIMGPU_BREAK_BUILD=1
  expect_task build 2 ' 2/3 [0-9.]+ - - - failed Error: clBuildProgram failed with CL_BUILD_PROGRAM_FAILURE \(-11\)\.$'

  # Ended while its tester runs: the second start, after the dialogue's.
  : >"$dir/started"
  env SLURM_ARRAY_TASK_ID=3 VRAMCHECK_PROGRAM="$dir/tester" \
    VRAMCHECK_MINUTES=1 "$scripts/slurm/vramcheck-array.sbatch" \
    >"$dir/ended.out" 2>"$dir/ended.err" &
  for _ in {1..100}; do
    (($(wc -l <"$dir/started") == 2)) && break
    sleep 0.1
  done
  sleep 3
  tester=$(tail -n 1 "$dir/started")
  kill -TERM "$!"
  wait "$!" && echo 0 >"$dir/ended.status" || echo $? >"$dir/ended.status"
  ! kill -0 "$tester" 2>/dev/null || fail "the tester still runs"
  expect_task ended 143 ' 2/3 [0-9.]+ [0-9.-]+ [0-9.-]+ [0-] interrupted interrupted by SIGTERM$'

  # Refused before any tester starts.
  rm "$dir/started"
  run_task no-minutes 5 VRAMCHECK_MINUTES=0
  expect_refused no-minutes
  expect_task no-minutes 2 ' failed VRAMCHECK_MINUTES is not a number above 0: 0$'
  touch "$dir/file"
  run_task unwritable 5 VRAMCHECK_RESULTS="$dir/file"
  expect_refused unwritable
  env SLURM_ARRAY_TASK_ID=5 "$scripts/slurm/vramcheck-array.sbatch" \
    >/dev/full 2>"$dir/full.err" && echo 0 >"$dir/full.status" ||
    echo $? >"$dir/full.status"
  expect_refused full

  wait "$pid"
  ((SECONDS - start <= 45)) ||
    fail "the hung dialogue took $((SECONDS - start)) s"
  expect_task hang 2 ' failed the tester did not end its dialogue in 30 s$'

  # A file that cannot be read loses its own row only.
  expect_collected 1 "$dir"/results/local_{1..4}.tsv "$dir/missing.tsv"
  grep -q missing.tsv "$dir/table.err" || fail "no word on the missing file"
  (($(grep -c '^local ' "$dir/table") == 4)) || fail "not four rows"
  expect_collected 2 "$dir/results/local_2.tsv"
}

test_cluster() {
  local row device task
  [ "$(id -u)" -eq 0 ] ||
    skip "not root: the test starts slurmd, which must run as root"
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

  # Every task sees the four devices; only task 1's tester gets the fault.
  # The node claims four CPUs, so that the four tasks run at once and share
  # whatever else loads the machine alike: their bandwidths compare. PoCL
  # compiles the test program anew into its own cache (seconds), within the
  # time of each task.
  cat > "$dir/vramcheck" <<WRAPPER
#!/bin/sh
[ "\$SLURM_ARRAY_TASK_ID" != 1 ] || export SIMGPU_BIT_FAULTS=0:0x1000:0x00000100
export SIMGPU_DEVICE3_NAME="Simulated
GPU"
exec "$vramcheck" "\$@"
WRAPPER
  chmod +x "$dir/vramcheck"
  export OCL_ICD_VENDORS=$vendors SIMGPU_PLATFORMS=4 \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE2_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE3_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE2_SLOWDOWN=4 POCL_CACHE_DIR=$dir/pocl \
    VRAMCHECK_PROGRAM=$dir/vramcheck VRAMCHECK_MINUTES=0.3 \
    VRAMCHECK_RESULTS=$dir/results

  job=$(sbatch --parsable --array=0-3 --chdir="$dir" \
    --output="$dir/slurm-%A_%a.out" "$scripts/slurm/vramcheck-array.sbatch")
  wait_for 150 job_done
  # Siblings of equal speed differ by a tenth or two on a busy machine.
  expect_collected 1 --slow-below 60 "$dir"/results/*.tsv
  # Device, Total Error, Verdict and Speed of each row.
  row=" +[^ ]+ +%s +Simulated GPU +2/3 +[0-9.]+ +[0-9.]+ +[0-9.]+ +%s +%s +%s\$"
  for device in "0 0 clean ok" "1 [1-9][0-9]* errors ok" "2 0 clean slow" \
                "3 0 clean ok"; do
    # shellcheck disable=SC2059,SC2086  # the row's format, the four fields
    grep -Eq "^$job$(printf "$row" $device)" "$dir/table" ||
      fail "no row for device $device"
  done
  for task in 0 1 2 3; do
    [ "$(task_exit_code "$task")" = "ExitCode=$((task == 1)):0" ] ||
      fail "task $task: $(task_exit_code "$task")"
  done
  expect_collected 3 "$dir"/results/*_[023].tsv
  expect_collected 0 "$dir"/results/*_[03].tsv
}

case $part in
  task) test_task ;;
  cluster) test_cluster ;;
  *) echo "unknown part: $part" >&2; exit 2 ;;
esac
