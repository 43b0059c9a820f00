#!/usr/bin/env bash
# The Slurm job array for many GPUs, in one of two parts:
#   task     runs the job's sbatch file without a scheduler, its gpu-check
#            found on PATH or named by VRAMCHECK_PROGRAM, on the simulated
#            GPU and its faults (a driver hung while listing its devices, a
#            hung kernel, a device lost after errors, a program that does
#            not build); checks every result row, exit status and refusal
#            before testing, tasks ended or killed while testing, two hosts
#            writing into one folder, and what the collector names and
#            compares: missing tasks of plain and stepped arrays, tasks run
#            again, implausible arrays, files it cannot read, 1.2.0 rows.
#   cluster  runs the job array on a one-node Slurm cluster of its own
#            (munged, slurmctld and slurmd in a temporary folder, on free
#            ports) against four simulated GPUs of one name: a bit fault on
#            device 1, device 2 four times slower, device 3's name over two
#            lines. The sbatch file, submitted by a relative path, runs the
#            gpu-check beside it. Checks the collected table and the tasks'
#            exit statuses in Slurm, and the hooks: the EpilogSlurmctld hook
#            leaves the node idle after a clean task and drains it after
#            the faulty one, with a reason that names its PCI bus; once
#            resumed, the health check, run as slurmd runs it, drains it
#            again from the results. Ends every daemon it started; exits 77
#            where it cannot run.
# Usage: slurm_job_array_test.sh task|cluster GPU_CHECK SIMGPU_VENDORS_DIR
#                                FLEET_DIR
set -euo pipefail

part=$1 gpu_check=$2 vendors=$3 fleet=$4
sbatch_file=$fleet/slurm/vramcheck-array.sbatch
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
node_drained() { [[ $(sinfo -h -o %t) == drain ]]; }
drain_reason() { sinfo -h -R -o %E; }

# Runs the sbatch file as task TASK without a scheduler, with the settings
# given, into $dir/NAME.out and NAME.err, and its exit status into
# $dir/NAME.status; the simulated GPU logs into $dir/NAME.simgpu.
# Arguments: NAME TASK [VAR=VALUE...]
run_task() {
  local name=$1 task=$2 status=0
  shift 2
  env SLURM_ARRAY_TASK_ID="$task" VRAMCHECK_MINUTES=0.1 \
    SIMGPU_LOG="$dir/$name.simgpu" "$@" "$sbatch_file" >"$dir/$name.out" \
    2>"$dir/$name.err" || status=$?
  echo "$status" >"$dir/$name.status"
}

# Starts task TASK like run_task, but for a minute and in the background,
# and waits until it tests its second pass; sets pid, gpu-check's, and
# workers, the numbers of its workers. Arguments: NAME TASK [VAR=VALUE...]
start_task() {
  env SLURM_ARRAY_TASK_ID="$2" VRAMCHECK_MINUTES=1 \
    SIMGPU_LOG="$dir/$1.simgpu" "${@:3}" "$sbatch_file" >"$dir/$1.out" \
    2>"$dir/$1.err" &
  pid=$!
  local reads
  for _ in {1..600}; do
    reads=$(grep -cs '^launch Read' "$dir/$1.simgpu") || true
    ((${reads:-0} >= 3)) && break
    sleep 0.1
  done
  workers=$(pgrep -P "$pid") || fail "$1: no worker runs"
}

# Ends the task that start_task started, NAME, with SIGNAL and waits for it.
# Arguments: NAME SIGNAL
end_task() {
  kill -"$2" "$pid"
  wait "$pid" 2>/dev/null && echo 0 >"$dir/$1.status" ||
    echo $? >"$dir/$1.status"
}

# Fails unless task NAME ended with STATUS and its result row, the last
# line of its output, is 14 tab-separated fields that, joined by blanks,
# match the extended regex LINE. Arguments: NAME STATUS LINE
expect_task() {
  local result
  [[ $(<"$dir/$1.status") == "$2" ]] ||
    fail "$1: exit status $(<"$dir/$1.status"), not $2: $(cat "$dir/$1.err")"
  tail -n 1 "$dir/$1.out" | awk -F '\t' '{ exit NF != 14 }' ||
    fail "$1: not a row of 14 fields: $(tail -n 1 "$dir/$1.out")"
  result=$(tail -n 1 "$dir/$1.out" | tr '\t' ' ')
  [[ $result =~ $3 ]] || fail "$1: result row '$result' does not match '$3'"
}

# Fails unless task NAME launched no kernel.
expect_untested() {
  ! grep -qs '^launch ' "$dir/$1.simgpu" || fail "$1: a kernel was launched"
}

# Fails unless task NAME was refused with status 2 and one line, a result
# row or an error, having tested nothing.
expect_refused() {
  [[ $(<"$dir/$1.status") == 2 &&
     $(cat "$dir/$1.out" "$dir/$1.err" 2>/dev/null | wc -l) == 1 ]] ||
    fail "$1: not refused with one line: $(cat "$dir/$1".{out,err})"
  expect_untested "$1"
}

# Runs the collector on the files and folders given into $dir/table and
# table.err and fails unless it exits with STATUS. Arguments: STATUS RESULT...
expect_collected() {
  local status=0
  env LC_ALL="$lang" "${collector[@]}" "${@:2}" >"$dir/table" \
    2>"$dir/table.err" || status=$?
  cat "$dir/table" "$dir/table.err"
  ((status == $1)) || fail "the collector exited with $status, not $1"
}

# Fails unless the collector said something matching the extended regex $1.
expect_named() {
  grep -Eq -- "$1" "$dir/table.err" || fail "the collector did not say '$1'"
}

# The locale whose decimal point is a comma, where it can be had, for the
# programs run: $lang.
# shellcheck source=../support/german_locale.sh
source "$(dirname "$0")/../support/german_locale.sh"

test_task() {
  local hang freeze start
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  choose_german_locale
  collector=("$fleet/collect-results")
  # A driver that never lists its devices: the loader waits forever to
  # open its library, a FIFO.
  mkdir "$dir/hung"
  mkfifo "$dir/hung/libhung.so"
  echo "$dir/hung/libhung.so" >"$dir/hung/hung.icd"
  # Tasks 0 to 6 of job 77, but task 5, which never runs. The sbatch file
  # finds gpu-check on PATH.
  PATH=$(dirname "$gpu_check"):$PATH
  export OCL_ICD_VENDORS=$vendors POCL_CACHE_DIR=$dir/pocl \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 VRAMCHECK_RESULTS=$dir/results \
    SLURM_ARRAY_JOB_ID=77 SLURM_ARRAY_TASK_COUNT=7

  run_task hang 4 OCL_ICD_VENDORS="$dir/hung" &
  hang=$! start=$SECONDS
  run_task freeze 6 SIMGPU_HANG_LAUNCH=Read:3 GPU_CHECK_STALL_SECONDS=4 \
    VRAMCHECK_MINUTES=0.5 &
  freeze=$!
  # The GPU that the scheduler gave goes into the row, and errors found
  # stand when the device is lost after them. Figures are the same in a
  # locale with decimal commas.
  run_task lost 1 SIMGPU_BIT_FAULTS=0:0x1000:0x00000100 \
    SIMGPU_FAIL_LAUNCH=Read:5 CUDA_VISIBLE_DEVICES=2 LC_ALL="$lang"
  expect_task lost 1 '^77 1 7 [^ ]+ 0 2 Simulated GPU 2/3 [0-9]+\.[0-9] [0-9]+\.[0-9]{2} [0-9]+\.[0-9]{2} [1-9][0-9]* errors then Error: clEnqueueNDRangeKernel failed with CL_OUT_OF_RESOURCES \(-5\): .*try fewer blocks\.$'
  # PoCL's compiler may write a note first, and the build log follows. A
  # tab in the device's name splits no field of the row.
  run_task build 2 VRAMCHECK_PROGRAM="$gpu_check" SIMGPU_BREAK_BUILD=1 \
    SIMGPU_DEVICE0_NAME=$'Simulated\tGPU'
  expect_task build 2 ' Simulated GPU 2/3 [0-9.]+ - - 0 failed Error: clBuildProgram failed with CL_BUILD_PROGRAM_FAILURE \(-11\)\.$'

  # Ended while it tests, with and without errors found: no worker is left.
  start_task ended 3 VRAMCHECK_PROGRAM="$gpu_check"
  end_task ended TERM
  for worker in $workers; do
    ! kill -0 "$worker" 2>/dev/null || fail "a worker still runs"
  done
  expect_task ended 143 ' 2/3 [0-9.]+ [0-9.]+ [0-9.]+ 0 interrupted interrupted by SIGTERM$'
  start_task errors 0 SIMGPU_BIT_FAULTS=0:0x1000:0x00000100 \
    SLURM_ARRAY_JOB_ID=78 SLURM_ARRAY_TASK_COUNT=1
  end_task errors TERM
  expect_task errors 1 '^78 0 1 .* [1-9][0-9]* errors then interrupted by SIGTERM$'
  # Killed (SIGKILL), as by the OOM killer: its worker ends with it, and
  # its result stays unfinished.
  start_task killed 0
  end_task killed KILL
  for _ in {1..50}; do
    # shellcheck disable=SC2086  # the workers' numbers
    kill -0 $workers 2>/dev/null || break
    sleep 0.1
  done
  for worker in $workers; do
    ! kill -0 "$worker" 2>/dev/null || fail "a killed task's worker still runs"
  done

  # Refused before anything is tested.
  export VRAMCHECK_RESULTS=$dir/refused
  run_task no-minutes 5 VRAMCHECK_MINUTES=0
  expect_refused no-minutes
  expect_task no-minutes 2 ' failed VRAMCHECK_MINUTES is not a number above 0: 0$'
  run_task minutes 5 VRAMCHECK_MINUTES=1,5 LC_ALL="$lang"
  expect_refused minutes
  expect_task minutes 2 ' failed VRAMCHECK_MINUTES is not a number above 0: 1,5$'
  for share in 0 101 9x; do
    run_task "share-$share" 5 VRAMCHECK_SHARE="$share"
    expect_refused "share-$share"
    expect_task "share-$share" 2 " failed VRAMCHECK_SHARE is not a percentage from 1 to 100: $share\$"
  done
  run_task stall 5 GPU_CHECK_STALL_SECONDS=0x10
  expect_refused stall
  expect_task stall 2 ' failed GPU_CHECK_STALL_SECONDS is not a whole number of seconds from 1 to 86400: 0x10$'
  run_task no-task 5x
  expect_refused no-task
  grep -q "not a job array task: SLURM_ARRAY_TASK_ID is '5x'" "$dir/no-task.err" ||
    fail "no-task: $(cat "$dir/no-task.err")"
  run_task no-device 5 SIMGPU_PLATFORMS=2
  expect_untested no-device
  expect_task no-device 2 ' failed there is no device 5: 2 listed$'
  touch "$dir/file"
  run_task unwritable 5 VRAMCHECK_RESULTS="$dir/file"
  expect_refused unwritable
  env SLURM_ARRAY_TASK_ID=5 SIMGPU_LOG="$dir/full.simgpu" "$sbatch_file" \
    >/dev/full 2>"$dir/full.err" &&
    echo 0 >"$dir/full.status" || echo $? >"$dir/full.status"
  expect_refused full
  export VRAMCHECK_RESULTS=$dir/results

  wait "$hang"
  ((SECONDS - start <= 45)) ||
    fail "the hung driver took $((SECONDS - start)) s"
  expect_task hang 2 ' failed the OpenCL driver did not list its devices in 30 s$'
  wait "$freeze"
  expect_task freeze 2 ' failed device 0 stopped responding after [0-9.]+ s in pass 2, block 0$'

  # Every task that left no whole result is named, and a file that cannot
  # be read loses its own rows only.
  : >"$dir/results/77_9_empty.tsv"
  echo 'not a row' >"$dir/results/77_9_other.tsv"
  head -c 100 "$dir"/results/77_1_*.jsonl >"$dir/results/77_9_cut.jsonl"
  expect_collected 1 "$dir/results" "$dir/missing.tsv"
  expect_named 'missing.tsv: cannot be read$'
  expect_named '77_9_empty.tsv: empty'
  expect_named '77_9_other.tsv: line 1 is not a result record$'
  expect_named '77_9_cut.jsonl: line 1 is not a result record$'
  expect_named '77_0_.*\.part: its task did not finish'
  expect_named '^[^ ]+ job 77: task 5 left no row$'
  (($(grep -c '^77 ' "$dir/table") == 6)) || fail "not six rows of job 77"
  expect_collected 2 "$dir"/results/77_{0,2}_*
  expect_named 'job 77: task 1 left no row$'
  expect_named 'job 77: tasks 3-6 left no row$'

  # A stepped array (0-10:2) names its missing tasks only; so does one
  # whose tasks were not told their count (0-4:2). A task that ran again
  # counts once, with its latest run; the earlier is named.
  mkdir "$dir/arrays"
  for task in 0 2 4 10; do
    run_task "stepped-$task" "$task" VRAMCHECK_MINUTES=0 \
      VRAMCHECK_RESULTS="$dir/arrays" SLURM_ARRAY_JOB_ID=80 \
      SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=10 SLURM_ARRAY_TASK_STEP=2 \
      SLURM_ARRAY_TASK_COUNT=6
  done
  (
    unset SLURM_ARRAY_TASK_COUNT
    for task in 0 4; do
      run_task "uncounted-$task" "$task" VRAMCHECK_MINUTES=0 \
        VRAMCHECK_RESULTS="$dir/arrays" SLURM_ARRAY_JOB_ID=81 \
        SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=4 SLURM_ARRAY_TASK_STEP=2
    done
    run_task requeued 0 VRAMCHECK_SHARE=0 SLURM_RESTART_COUNT=1 \
      VRAMCHECK_RESULTS="$dir/arrays" SLURM_ARRAY_JOB_ID=81 \
      SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=4 SLURM_ARRAY_TASK_STEP=2
  )
  expect_collected 2 "$dir/arrays"
  expect_named '^gpu-check: job 80: tasks 6-8:2 left no row$'
  expect_named '^gpu-check: job 81: task 2 left no row$'
  expect_named '^gpu-check: job 81: task 0 ran again: its run 0 on [^ ]+ is left out$'
  (($(wc -l <"$dir/table.err") == 3)) || fail "not three lines on the arrays"
  if (($(grep -Ec '^8[01] ' "$dir/table") != 6)) ||
     ! grep -Eq '^81 +0 .* VRAMCHECK_SHARE is not a percentage' "$dir/table"
  then
    fail "not one row of each task, the latest run"
  fi
  # An array of ten million tasks is refused at once.
  sed 's/"count":6,"max":10,"min":0,"step":2/"count":10000000,"max":9999999,"min":0,"step":1/' \
    "$dir"/arrays/80_0_*.jsonl >"$dir/huge.jsonl"
  start=$(date +%s%N)
  expect_collected 2 "$dir/huge.jsonl"
  (($(date +%s%N) - start < 2000000000)) || fail "the huge array took long"
  [[ $(<"$dir/table.err") == *'job 80: its rows claim an implausible array (tasks 0 to 9999999 in steps of 1, '* &&
     $(wc -l <"$dir/table.err") == 1 ]] || fail "the huge array not refused in one line"

  # The speed of a GPU is compared with its siblings' only: the same name
  # and memory in the same job, with figures; job U has one slow GPU. The
  # columns stay aligned past a name whose letters take two bytes each.
  # Rows as 1.2.0 wrote them.
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
  if [[ $(grep -c ' slow$' "$dir/table") != 1 ]] ||
     ! grep -Eq '^U +2 .* slow$' "$dir/table"; then
    fail "not U's GPU 2 alone slow"
  fi

  # Two hosts that write into one folder keep both results.
  if unshare -u true 2>/dev/null && command -v hostname >/dev/null; then
    for host in alpha beta; do
      # shellcheck disable=SC2016  # expanded by the shell in the namespace
      env -u SLURM_ARRAY_JOB_ID -u SLURM_ARRAY_TASK_COUNT \
        SLURM_ARRAY_TASK_ID=0 VRAMCHECK_MINUTES=0.01 \
        SIMGPU_BIT_FAULTS=0:0x1000:0x00000100 \
        VRAMCHECK_RESULTS="$dir/shared" unshare -u sh -c \
        'hostname "$1" && exec "$2"' sh "$host" "$sbatch_file" \
        >/dev/null 2>&1 &
    done
    wait
    expect_collected 1 "$dir/shared"
    for host in alpha beta; do
      grep -Eq "^local +0 +$host +0 .* errors " "$dir/table" ||
        fail "no row of $host"
    done
  fi
}

test_cluster() {
  local row device task start
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
  # The hooks' settings; slurmctld runs the epilog hook without any of its
  # own environment, so that only its settings file can name this cluster.
  printf '%s\n' "VRAMCHECK_RESULTS='$dir/run/vramcheck-results'" \
    "SLURM_CONF='$SLURM_CONF'" >"$dir/vramcheck.conf"
  printf '#!/bin/sh\nVRAMCHECK_CONFIG=%s exec %s\n' "$dir/vramcheck.conf" \
    "$dir/job/vramcheck-epilog" >"$dir/epilog"
  chmod +x "$dir/epilog"
  echo "EpilogSlurmctld=$dir/epilog" >>"$dir/slurm.conf"
  slurmctld -D > "$dir/slurmctld.log" 2>&1 &
  daemons+=($!)
  slurmd -D > "$dir/slurmd.log" 2>&1 &
  daemons+=($!)
  wait_for 60 node_idle

  # The job's folder: the sbatch file and the Slurm hooks with gpu-check
  # beside them, which neither PATH nor VRAMCHECK_PROGRAM names.
  mkdir "$dir/job" "$dir/run"
  cp "$sbatch_file" "$fleet/slurm/vramcheck-epilog" \
    "$fleet/slurm/vramcheck-healthcheck" "$gpu_check" "$dir/job/"
  unset VRAMCHECK_PROGRAM VRAMCHECK_RESULTS
  ! command -v gpu-check >/dev/null || skip "gpu-check is on PATH"
  collector=("$dir/job/gpu-check" collect)
  lang=C.UTF-8
  # Every task sees the four devices and tests the one of its index; device
  # 1 has a fault. The node claims four CPUs, so that the four tasks run at
  # once and share whatever else loads the machine alike: their bandwidths
  # compare. PoCL compiles the test program anew into its own cache
  # (seconds), within the time of each task.
  export OCL_ICD_VENDORS=$vendors SIMGPU_PLATFORMS=4 \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE2_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE3_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE1_BIT_FAULTS=0:0x1000:0x00000100 \
    SIMGPU_DEVICE1_PCI_BUS=0000:3b:00.0 \
    SIMGPU_DEVICE2_SLOWDOWN=4 SIMGPU_DEVICE3_NAME=$'Simulated\nGPU' \
    POCL_CACHE_DIR=$dir/pocl

  # A clean task leaves the node as it was; the hook runs as the job ends.
  job=$(VRAMCHECK_MINUTES=0.05 sbatch --parsable --array=0 \
    --chdir="$dir/run" --output="$dir/slurm-%A_%a.out" \
    "$dir/job/vramcheck-array.sbatch")
  wait_for 90 job_done
  sleep 2
  node_idle || fail "a clean task left the node $(sinfo -h -o %t): $(drain_reason)"

  # Submitted with the job's path relative to the folder it is submitted
  # from, which is not the folder the tasks run in; Slurm runs a copy.
  job=$(cd "$dir" && VRAMCHECK_MINUTES=0.3 sbatch --parsable --array=0-3 \
    --chdir="$dir/run" --output="$dir/slurm-%A_%a.out" \
    job/vramcheck-array.sbatch)
  wait_for 150 job_done
  # Siblings of equal speed differ by a tenth or two on a busy machine.
  expect_collected 1 --slow-below 60 "$dir/run/vramcheck-results/${job}_"*
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
  local reason="vramcheck: [1-9][0-9]* errors on device 1 \(PCI 0000:3b:00.0\)"
  wait_for 10 node_drained
  sinfo -R
  [[ $(drain_reason) =~ ^$reason$ ]] || fail "drained for '$(drain_reason)'"

  # The health check, with what slurmd gives it, drains the node again.
  scontrol update NodeName="$(hostname -s)" State=RESUME
  wait_for 10 node_idle
  start=$SECONDS
  env -i SLURMD_NODENAME="$(hostname -s)" VRAMCHECK_CONFIG="$dir/vramcheck.conf" \
    "$dir/job/vramcheck-healthcheck" || fail "the health check failed"
  echo "the health check took $((SECONDS - start)) s"
  node_drained && [[ $(drain_reason) =~ ^$reason$ ]] ||
    fail "the health check left the node $(sinfo -h -o %t): $(drain_reason)"
}

case $part in
  task) test_task ;;
  cluster) test_cluster ;;
  *) echo "unknown part: $part" >&2; exit 2 ;;
esac
