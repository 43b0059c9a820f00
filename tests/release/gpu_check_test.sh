#!/usr/bin/env bash
# Runs gpu-check from a folder laid out like the release one against three
# simulated GPUs, which it must find as an unregistered NVIDIA driver library
# in a library folder of the test's own: not all blocks fit, so every device
# is tried again on fewer, and one device flips a bit in every pass. Then,
# at the same time, with a stand-in tester where the simulated GPU cannot
# play the card: a hung kernel, a failure under load, a tester killed in its
# dialogue, Ctrl+C with and without errors, an OUTDIR that looks like an
# option, a filesystem that fills up, and settings and output folders it
# must refuse before testing. Last, the scripts beside it refuse what they
# cannot do safely.
#
#   gpu_check_test.sh VRAMCHECK VRAMCHECK_BENCH SCRIPTS_DIR LIBSIMGPU STAND_IN
set -euo pipefail

if [[ $# -ne 5 ]]; then
  echo "usage: $0 VRAMCHECK VRAMCHECK_BENCH SCRIPTS_DIR LIBSIMGPU STAND_IN" >&2
  exit 2
fi
scripts=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/folder" "$tmp/stand-in" "$tmp/lib" "$tmp/vendors" "$tmp/cwd"
loader=$(ldd "$1" | awk '$1 == "libOpenCL.so.1" { print $3 }')
cp "$1" "$2" "$scripts/gpu-check" "$scripts/vramcheck-lib.sh" "$loader" \
  "$scripts/slurm/collect-results" "$tmp/folder/"
ln -s "$(realpath "$4")" "$tmp/lib/libnvidia-opencl.so.1"
# The stand-in's folder, with a benchmark that names its device.
cp "$scripts/gpu-check" "$scripts/vramcheck-lib.sh" "$loader" "$tmp/stand-in/"
cp "$5" "$tmp/stand-in/vramcheck"
printf '#!/bin/sh\necho "device: Stand-in GPU (1.0)"\n' \
  >"$tmp/stand-in/vramcheck_bench"
chmod +x "$tmp/stand-in/vramcheck_bench"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs the check from FOLDER into OUTDIR, its output into LOG.out and
# LOG.err (LOG: OUTDIR unless given), and fails unless it exits with STATUS.
# Arguments: STATUS FOLDER OUTDIR [LOG]
check() {
  local status=0 log=${4:-$3}
  env -u OCL_ICD_VENDORS GPU_CHECK_VENDORS="$tmp/vendors" \
    GPU_CHECK_LIBRARY_DIRS="$tmp/none:$tmp/lib" \
    GPU_CHECK_SECONDS="${GPU_CHECK_SECONDS:-10}" \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
    "$tmp/$2/gpu-check" "$3" >"$log.out" 2>"$log.err" || status=$?
  ((status == $1)) || fail "$3: exit status $status, not $1: $(cat "$log.err")"
}

# Fails unless file $1 has a line matching the extended regex $2.
expect() {
  grep -Eq -- "$2" "$1" || fail "$1 has no line matching '$2'"
}

# Fails unless the check logged in LOG.err was refused with one line.
# Arguments: LOG [started]: the tester may have shown its dialogue.
refused() {
  (($(wc -l <"$1.err") == 1)) ||
    fail "not one line on standard error: $(cat "$1.err")"
  [[ -n ${2:-} || ! -e $tmp/started ]] || fail "the tester was started"
}

# Starts in the background the check of a stand-in tester whose mode is
# MODE into $tmp/MODE, which must exit with STATUS, in a process group of
# its own as a shell's foreground job; sets pid. Arguments: MODE STATUS
stand_in() {
  set -m
  STAND_IN=$1 check "$2" stand-in "$tmp/$1" &
  pid=$!
  set +m
}

# Sends SIGNAL to the process group of the check into OUTDIR, as Ctrl+C
# does, once its tester has run for two seconds. Arguments: SIGNAL OUTDIR
signal_when_testing() {
  for _ in {1..100}; do
    [[ -s $2/vramcheck-device-0-3-blocks.txt ]] && break
    sleep 0.1
  done
  sleep 2
  kill -"$1" -- "-$pid"
}

# The hung kernel and the failure under load run beside the simulated GPUs.
GPU_CHECK_SECONDS=30 stand_in freeze 2
freeze=$pid
stand_in load-failure 2
load_failure=$pid

# Device 0's name holds a line that looks like the next device's entry,
# device 2's one like the block prompt; the third block never fits.
SIMGPU_PLATFORMS=3 SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x18000008 \
  SIMGPU_DEVICE2_GLOBAL_MEM_SIZE=0x18000008 SIMGPU_FAIL_BLOCK=3 \
  SIMGPU_DEVICE1_BIT_FAULTS=0:0x1000:0x00000100 \
  SIMGPU_DEVICE0_NAME=$'Simulated GPU\n1: spare' \
  SIMGPU_DEVICE2_NAME='Simulated GPU (max: 99 blocks)' \
  check 1 folder "$tmp/three"
out=$tmp/three
expect "$out/system.txt" ":$tmp/lib/libnvidia-opencl.so.1\$"
names=("Simulated GPU 1: spare" "Simulated GPU" "Simulated GPU \(max: 99 blocks\)")
verdicts=(clean errors clean) total=(0 '[1-9][0-9]*' 0)
for device in 0 1 2; do
  expect "$out/summary.txt" "^try: device $device on 3 blocks, .*try fewer blocks\.\$"
  expect "$out/summary.txt" "^try: device $device on 2 blocks, "
  expect "$out/summary.txt" "^[^ ]+ +$device +[^ ]+ +$device +- +${names[device]} +2/3 +[0-9.]+ +[0-9.]+ +[0-9.]+ +${total[device]} +${verdicts[device]} "
  expect "$out/bench-device-$device.txt" "^device: ${names[device]} \("
  lines=$(grep -o 'Total Error: [0-9]*' "$out/vramcheck-device-$device-2-blocks.txt" | wc -l)
  ((lines > 0 && lines == $(wc -l <"$out/status-lines-device-$device.txt"))) ||
    fail "status-lines-device-$device.txt does not hold the $lines status lines"
done
# The faulty device's benchmark fails, and only its own.
expect "$out/summary.txt" '^benchmark: device 1 failed, see bench-device-1.txt$'
expect "$out/summary.txt" '^benchmark: device 2 ok, bench-device-2.txt$'
for ratio in write/plain_store read/plain_load read/permuted_load; do
  expect "$out/bench-device-0.txt" "^$ratio +[0-9.]+\$"
done
[[ $(tail -n 1 "$out/summary.txt") == "verdict: errors" ]] ||
  fail "the machine's verdict is not errors"
rows=("$out"/results/*.tsv)
((${#rows[@]} == 3)) || fail "not three rows: ${rows[*]}"
"$tmp/folder/collect-results" "$out/results" >/dev/null && status=0 ||
  status=$?
((status == 1)) || fail "the collector exited with $status on the rows, not 1"

# A tester that stops reporting is no clean one, and one that fails after
# passes gets no second try.
wait "$freeze"
expect "$tmp/freeze/summary.txt" '^try: .*: failed: the tester stopped reporting after [0-9]+ s$'
expect "$tmp/freeze/summary.txt" '^verdict: failed$'
wait "$load_failure"
expect "$tmp/load-failure/summary.txt" '^try: device 0 on 3 blocks, .*: failed: Error: .*try fewer blocks\.$'
! grep -q 'on 2 blocks' "$tmp/load-failure/summary.txt" || fail "a retry after passes"

# Killed in its dialogue: said so at once, without bash's "Killed".
start=$SECONDS
STAND_IN=killed check 2 stand-in "$tmp/killed"
((SECONDS - start < 20)) || fail "a killed dialogue took $((SECONDS - start)) s"
refused "$tmp/killed" started
expect "$tmp/killed.err" 'ended by SIGKILL in its dialogue$'


# Ctrl+C ends the check, whose tester `timeout` keeps out of its process
# group, at once; errors found before stand. (A check that a signal ends
# takes its shell along, which then ends by the same signal.)
GPU_CHECK_SECONDS=60 stand_in errors 1
signal_when_testing INT "$tmp/errors"
wait "$pid" || fail "Ctrl+C after errors: not status 1 but $?"
expect "$tmp/errors.out" '^verdict: errors$'
expect "$tmp/errors.out" ' 7 +errors +- +then interrupted by SIGINT$'
STAND_IN_LOG=$tmp/started GPU_CHECK_SECONDS=60 stand_in clean 130
signal_when_testing INT "$tmp/clean"
start=$SECONDS
wait "$pid" || (($? == 130)) || fail "the check did not end by SIGINT"
((SECONDS - start <= 5)) || fail "Ctrl+C took $((SECONDS - start)) s"
! kill -0 "$(tail -n 1 "$tmp/started")" 2>/dev/null ||
  fail "the tester still runs after Ctrl+C"
expect "$tmp/clean/summary.txt" '^verdict: interrupted$'
rm "$tmp/started"

# An OUTDIR like an option is a folder like any other, and one that holds
# an earlier run is refused.
(cd "$tmp/cwd" && GPU_CHECK_SECONDS=2 check 0 stand-in -x)
[[ $(ls -A "$tmp/cwd") == $'-x\n-x.err\n-x.out' ]] ||
  fail "written outside -x: $(ls -A "$tmp/cwd")"
expect "$tmp/cwd/-x/summary.txt" '^verdict: clean$'
(cd "$tmp/cwd" && check 2 stand-in -x)
expect "$tmp/cwd/-x.err" 'is not empty'

# A filesystem that fills up while the tester runs: the verdict still shows.
if unshare -m true 2>/dev/null && command -v mount >/dev/null; then
  export -f check fail
  export tmp
  unshare -m bash -c '
    set -e
    mkdir "$tmp/small"
    mount -t tmpfs -o size=256k tmpfs "$tmp/small"
    { sleep 3; cat /dev/zero >"$tmp/small/fill"; } 2>/dev/null &
    GPU_CHECK_SECONDS=6 check 2 stand-in "$tmp/small/out" "$tmp/full-fs"'
  expect "$tmp/full-fs.out" '^verdict: failed$'
  expect "$tmp/full-fs.err" 'cannot write .*/out/summary.txt$'
fi

# Refused before anything is tested, with one line.
export STAND_IN_LOG=$tmp/started
GPU_CHECK_SECONDS=abc check 2 stand-in "$tmp/abc"
refused "$tmp/abc"
touch "$tmp/file"
check 2 stand-in "$tmp/file/out" "$tmp/file-out"
refused "$tmp/file-out"
status=0
"$tmp/stand-in/gpu-check" "$tmp/full" >/dev/full 2>"$tmp/full.err" ||
  status=$?
((status == 2)) && refused "$tmp/full" || fail "a full standard output: $status"
GPU_CHECK_DEVICES=1 check 2 stand-in "$tmp/no-device"
refused "$tmp/no-device" started

# The scripts beside it refuse, touching nothing.
mkdir "$tmp/tree" && touch "$tmp/tree/keep"
! "$scripts/make-sysroot" x86_64 "$tmp/tree" 2>/dev/null &&
  [[ -e $tmp/tree/keep ]] || fail "make-sysroot replaced a folder not its own"
status=0
"$scripts/run-on-simulated-gpu" --faults 2>/dev/null || status=$?
((status == 2)) || fail "run-on-simulated-gpu took --faults: status $status"
