#!/usr/bin/env bash
# The Slurm job array for many GPUs, in one of two parts:
#   task     runs the task script without a scheduler, with the real tester
#            on the simulated GPU and with a stand-in tester where the
#            simulated GPU cannot play the card (a hung driver, a hung
#            kernel, a device lost after errors); checks every result line,
#            exit status and refusal before testing, tasks ended or killed
#            while testing, two hosts writing into one folder, and what the
#            collector names and compares.
#   cluster  runs the job array on a one-node Slurm cluster of its own
#            (munged, slurmctld and slurmd in a temporary folder, on free
#            ports) against four simulated GPUs of one name: a bit fault
#            injected on device 1, device 2 four times slower, device 3's name
#            over two lines. Checks the collected table and the tasks' exit
#            statuses in Slurm; the job is submitted by a relative path. Ends
#            every daemon it started; exits 77 where it cannot run.
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

# Starts task TASK like run_task, but for a minute and in the background,
# and waits until its tester (the second start logged in file LOG) runs;
# sets pid, the task script's, and tester. Arguments: NAME TASK LOG
# [VAR=VALUE...]
start_task() {
  : >"$3"
  env SLURM_ARRAY_TASK_ID="$2" VRAMCHECK_MINUTES=1 STAND_IN_LOG="$3" \
    "${@:4}" "$scripts/slurm/vramcheck-array.sbatch" >"$dir/$1.out" \
    2>"$dir/$1.err" &
  pid=$!
  for _ in {1..100}; do
    [[ $(wc -l <"$3") == 2 ]] && break
    sleep 0.1
  done
  sleep 2
  tester=$(tail -n 1 "$3")
}

# Ends the task that start_task started, NAME, with SIGNAL and waits for it.
# Arguments: NAME SIGNAL
end_task() {
  kill -"$2" "$pid"
  wait "$pid" 2>/dev/null && echo 0 >"$dir/$1.status" ||
    echo $? >"$dir/$1.status"
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

# Runs the collector on the files and folders given into $dir/table and
# table.err and fails unless it exits with STATUS. Arguments: STATUS RESULT...
expect_collected() {
  local status=0
  "$scripts/slurm/collect-results" "${@:2}" >"$dir/table" \
    2>"$dir/table.err" || status=$?
  cat "$dir/table" "$dir/table.err"
  ((status == $1)) || fail "the collector exited with $status, not $1"
}

# Fails unless the collector said something matching the extended regex $1.
expect_named() {
  grep -Eq -- "$1" "$dir/table.err" || fail "the collector did not say '$1'"
}

test_task() {
  local hang freeze
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  # The tester, logging its process number as the stand-in does.
  printf '#!/bin/sh\necho $$ >>"$STAND_IN_LOG"\nexec "%s" "$@"\n' \
    "$vramcheck" >"$dir/tester"
  chmod +x "$dir/tester"
  # Tasks 0 to 6 of job 77, but task 5, which never runs.
  export OCL_ICD_VENDORS=$vendors POCL_CACHE_DIR=$dir/pocl \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 STAND_IN_LOG=$dir/started \
    VRAMCHECK_PROGRAM=$stand_in VRAMCHECK_RESULTS=$dir/results \
    SLURM_ARRAY_JOB_ID=77 SLURM_ARRAY_TASK_COUNT=7

  run_task hang 4 STAND_IN=hang STAND_IN_LOG="$dir/hang" &
  hang=$! start=$SECONDS
  run_task freeze 6 STAND_IN=freeze STAND_IN_LOG="$dir/freeze.log" \
    VRAMCHECK_MINUTES=0.5 &
  freeze=$!
  # The GPU that the scheduler gave goes into the row, and a status line
  # cut off by the end of the run does not count.
  run_task lost 1 STAND_IN=errors-lost CUDA_VISIBLE_DEVICES=2
  expect_task lost 1 '^77 1 7 [^ ]+ 0 2 Stand-in GPU 2/3 [0-9.]+ 100\.00 90\.00 99 errors then Error: clEnqueueNDRangeKernel failed with CL_INVALID_COMMAND_QUEUE \(-36\)\.$'
  # PoCL's compiler may write a note first, and the build log follows.
  run_task build 2 VRAMCHECK_PROGRAM="$vramcheck" SIMGPU_BREAK_BUILD=1
  expect_task build 2 ' 2/3 [0-9.]+ - - - failed Error: clBuildProgram failed with CL_BUILD_PROGRAM_FAILURE \(-11\)\.$'

  # Ended while its tester runs, with and without errors found.
  start_task ended 3 "$dir/ended.log" VRAMCHECK_PROGRAM="$dir/tester"
  end_task ended TERM
  ! kill -0 "$tester" 2>/dev/null || fail "the tester still runs"
  expect_task ended 143 ' 2/3 [0-9.]+ [0-9.-]+ [0-9.-]+ [0-] interrupted interrupted by SIGTERM$'
  start_task errors 0 "$dir/errors.log" STAND_IN=errors \
    SLURM_ARRAY_JOB_ID=78 SLURM_ARRAY_TASK_COUNT=1
  end_task errors TERM
  expect_task errors 1 '^78 0 1 .* 7 errors then interrupted by SIGTERM$'
  # Killed (SIGKILL): its tester goes on until its time limit.
  start_task killed 0 "$dir/killed.log"
  end_task killed KILL
  kill "$tester"

  # Refused before any tester starts.
  rm "$dir/started"
  run_task no-minutes 5 VRAMCHECK_MINUTES=0 VRAMCHECK_RESULTS="$dir/refused"
  expect_refused no-minutes
  expect_task no-minutes 2 ' failed VRAMCHECK_MINUTES is not a number above 0: 0$'
  touch "$dir/file"
  run_task unwritable 5 VRAMCHECK_RESULTS="$dir/file"
  expect_refused unwritable
  env SLURM_ARRAY_TASK_ID=5 VRAMCHECK_RESULTS="$dir/refused" \
    "$scripts/slurm/vramcheck-array.sbatch" >/dev/full 2>"$dir/full.err" &&
    echo 0 >"$dir/full.status" || echo $? >"$dir/full.status"
  expect_refused full

  wait "$hang"
  ((SECONDS - start <= 45)) ||
    fail "the hung dialogue took $((SECONDS - start)) s"
  expect_task hang 2 ' failed the tester did not end its dialogue in 30 s$'
  wait "$freeze"
  expect_task freeze 2 ' failed the tester stopped reporting after [0-9]+ s$'

  # Every task that left no whole row is named, and a file that cannot be
  # read loses its own row only.
  : >"$dir/results/77_9_empty.tsv"
  echo 'not a row' >"$dir/results/77_9_other.tsv"
  expect_collected 1 "$dir/results" "$dir/missing.tsv"
  expect_named 'missing.tsv: cannot be read$'
  expect_named '77_9_empty.tsv: empty'
  expect_named '77_9_other.tsv: line 1 is not a result row$'
  expect_named '77_0_.*\.part: its task did not finish'
  expect_named '^[^ ]+ job 77: task 5 left no row$'
  (($(grep -c '^77 ' "$dir/table") == 6)) || fail "not six rows of job 77"
  expect_collected 2 "$dir"/results/77_{0,2}_*
  for task in 1 3 4 5 6; do expect_named "job 77: task $task left no row$"; done

  # The speed of a GPU is compared with its siblings' only: the same name
  # and memory in the same job, with figures; job U has one slow GPU. The
  # columns stay aligned past a name whose letters take two bytes each.
  {
    printf 'S\t%s\t4\th\t%s\t-\tGPU\t%s\t1.0\t%s\t%s\t0\tclean\t\n' \
      0 0 2/3 10.00 10.00  1 1 2/3 4.00 4.00  2 2 2/3 nan 10.00 \
      3 3 2/7 10.00 10.00
    printf 'T\t0\t1\th\t0\t-\tGPU\t2/3\t1.0\t10.00\t10.00\t0\tclean\t\n'
    printf 'V\t0\t1\th\t0\t-\tГПУ\t2/3\t1.0\t10.00\t10.00\t0\tclean\t\n'
  } >"$dir/siblings.tsv"
  expect_collected 0 "$dir/siblings.tsv"
  # Where the Blocks column starts, in characters.
  [[ $(LC_ALL=C.UTF-8 bash -c 'while IFS= read -r line; do
         [[ $line != [STV]" "* ]] || { line=${line%%2/*}; echo ${#line}; }
       done' <"$dir/table" | sort -u | wc -l) == 1 ]] ||
    fail "columns not aligned"
  printf 'U\t%s\t3\th\t%s\t-\tGPU\t2/3\t1.0\t%s\t10.00\t0\tclean\t\n' \
    0 0 10.00  1 1 10.00  2 2 4.00 >"$dir/slow.tsv"
  expect_collected 3 "$dir/siblings.tsv" "$dir/slow.tsv"
  [[ $(grep -c ' slow$' "$dir/table") == 1 ]] &&
    grep -Eq '^U +2 .* slow$' "$dir/table" || fail "not U's GPU 2 alone slow"

  # Two hosts that write into one folder keep both rows.
  if unshare -u true 2>/dev/null && command -v hostname >/dev/null; then
    for host in alpha beta; do
      env -u SLURM_ARRAY_JOB_ID -u SLURM_ARRAY_TASK_COUNT \
        SLURM_ARRAY_TASK_ID=0 STAND_IN=errors-lost \
        VRAMCHECK_RESULTS="$dir/shared" unshare -u sh -c \
        'hostname "$1" && exec "$2"' sh "$host" \
        "$scripts/slurm/vramcheck-array.sbatch" >/dev/null 2>&1 || true
    done
    expect_collected 1 "$dir/shared"
    for host in alpha beta; do
      grep -Eq "^local +0 +$host +0 " "$dir/table" || fail "no row of $host"
    done
  fi
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

  # Submitted with the job's path relative to the folder it is submitted
  # from, which is not the folder the tasks run in.
  job=$(cd "$scripts" && sbatch --parsable --array=0-3 --chdir="$dir" \
    --output="$dir/slurm-%A_%a.out" slurm/vramcheck-array.sbatch)
  wait_for 150 job_done
  # Siblings of equal speed differ by a tenth or two on a busy machine.
  expect_collected 1 --slow-below 60 "$dir/results"
  # Task and device, Total Error, Verdict and Speed of each row.
  row=" +%s +[^ ]+ +%s +- +Simulated GPU +2/3 +[0-9.]+ +[0-9.]+ +[0-9.]+ +%s +%s +%s\$"
  for device in "0 0 0 clean ok" "1 1 [1-9][0-9]* errors ok" \
                "2 2 0 clean slow" "3 3 0 clean ok"; do
    # shellcheck disable=SC2059,SC2086  # the row's format, the five fields
    grep -Eq "^$job$(printf "$row" $device)" "$dir/table" ||
      fail "no row for task and device $device"
  done
  for task in 0 1 2 3; do
    [ "$(task_exit_code "$task")" = "ExitCode=$((task == 1)):0" ] ||
      fail "task $task: $(task_exit_code "$task")"
  done
}

case $part in
  task) test_task ;;
  cluster) test_cluster ;;
  *) echo "unknown part: $part" >&2; exit 2 ;;
esac
