#!/usr/bin/env bash
# Runs gpu-check from a folder laid out like the release one against three
# simulated GPUs, which it must find as an unregistered NVIDIA driver library
# in a library folder of the test's own, in a German locale where there is
# one: not all blocks fit, so every device is tried again on fewer, and one
# device flips a bit in every pass. Beside it, with the faults the simulated
# GPU plays once the benchmarks are done: a failure under load after passes,
# a card that drops out or turns into another between probe and test, and a
# name of control characters on a faulty card. Then a hung kernel, a worker
# killed, and Ctrl+C with and without errors; an OUTDIR that looks like an
# option, a filesystem that fills up, and settings, output folders and
# temporary folders it must refuse before testing. Last, the scripts of the
# source tree refuse what they cannot do safely.
#
#   gpu_check_test.sh GPU_CHECK GPU_CHECK_FOLDER VRAMCHECK_BENCH FLEET_DIR \
#                     LIBSIMGPU SCRIPTS_DIR
#
# GPU_CHECK is the program that finds its OpenCL loader on the system,
# GPU_CHECK_FOLDER the one that finds it beside itself.
set -euo pipefail

if [[ $# -ne 6 ]]; then
  echo "usage: $0 GPU_CHECK GPU_CHECK_FOLDER VRAMCHECK_BENCH FLEET_DIR" \
    "LIBSIMGPU SCRIPTS_DIR" >&2
  exit 2
fi
fleet=$4 scripts=$6
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/folder" "$tmp/faults" "$tmp/lib" "$tmp/vendors" "$tmp/cwd"
loader=$(ldd "$1" | awk '$1 == "libOpenCL.so.1" { print $3 }')
cp "$2" "$3" "$loader" "$fleet/collect-results" "$tmp/folder/"
ln -s "$(realpath "$5")" "$tmp/lib/libnvidia-opencl.so.1"
# The folder of the faults, with a benchmark that only names its device, as
# the simulated GPU does, and then, after that of device LATER_AFTER (0
# unless set), appends the settings in the file $SIMGPU_CONFIG_FILE.later
# to those that the simulated GPU reads from $SIMGPU_CONFIG_FILE: a card
# that changes once the test is about to run.
cp "$2" "$loader" "$tmp/faults/"
cat >"$tmp/faults/vramcheck_bench" <<'EOF'
#!/usr/bin/env bash
name=SIMGPU_DEVICE$1_NAME
echo "device: ${!name-Simulated GPU} (stand-in benchmark)"
if [[ $1 == "${LATER_AFTER:-0}" && -e ${SIMGPU_CONFIG_FILE:-}.later ]]; then
  cat "$SIMGPU_CONFIG_FILE.later" >>"$SIMGPU_CONFIG_FILE"
fi
EOF
chmod +x "$tmp/faults/vramcheck_bench"

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
    GPU_CHECK_LIBRARY_DIRS="$tmp/none:$tmp/lib" POCL_CACHE_DIR="$tmp/pocl" \
    "${locale_env[@]}" GPU_CHECK_SECONDS="${GPU_CHECK_SECONDS:-10}" \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
    "$tmp/$2/gpu-check" "$3" >"$log.out" 2>"$log.err" || status=$?
  ((status == $1)) || fail "$3: exit status $status, not $1: $(cat "$log.err")"
}

# Fails unless file $1 has a line matching the extended regex $2.
expect() {
  grep -Eq -- "$2" "$1" || fail "$1 has no line matching '$2'"
}

# Starts in the background the check of the faults into $tmp/NAME, which
# must exit with STATUS, in a process group of its own as a shell's
# foreground job; sets pid. Arguments: NAME STATUS
background() {
  set -m
  check "$2" faults "$tmp/$1" &
  pid=$!
  set +m
}

# Waits until the check into OUTDIR has tested a whole pass of its device 0
# on 3 blocks.
testing() {
  for _ in {1..600}; do
    ! grep -qs '"kind":"pass"' "$1/device-0-3-blocks.log" || return 0
    sleep 0.1
  done
  fail "$1: no pass in a minute"
}

# Prints the process numbers of the workers of the check that the
# background job PID runs.
workers() {
  local program
  program=$(pgrep -P "$1") || return 0
  pgrep -P "$program" || true
}

# The locale whose decimal point is a comma, where it can be had: the
# environment of the checks that locale_env gives (set in a subshell).
# shellcheck source=../support/german_locale.sh
source "$(dirname "$0")/../support/german_locale.sh"
locale_env=()
choose_german_locale

# Device 0's name holds a line that looks like the next device's entry,
# device 2's one like the old tester's block prompt; the third block never
# fits.
(
  locale_env=("LC_ALL=$lang")
  SIMGPU_PLATFORMS=3 SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x18000008 \
    SIMGPU_DEVICE2_GLOBAL_MEM_SIZE=0x18000008 SIMGPU_FAIL_BLOCK=3 \
    SIMGPU_DEVICE1_BIT_FAULTS=0:0x1000:0x00000100 \
    SIMGPU_DEVICE0_NAME=$'Simulated GPU\n1: spare' \
    SIMGPU_DEVICE2_NAME='Simulated GPU (max: 99 blocks)' \
    check 1 folder "$tmp/three"
) &
three=$!

# A card failing under load, after a whole pass: no second try on fewer
# blocks.
SIMGPU_CONFIG_FILE=$tmp/load.conf GPU_CHECK_SECONDS=30 \
  background load-failure 2
load_failure=$pid
echo SIMGPU_FAIL_LAUNCH=Read:5 >"$tmp/load.conf.later"
# Between probe and test, device 1 turns into another card and device 2
# drops out; device 0 stays.
SIMGPU_CONFIG_FILE=$tmp/vanish.conf LATER_AFTER=2 SIMGPU_PLATFORMS=3 \
  SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x18000008 \
  SIMGPU_DEVICE2_GLOBAL_MEM_SIZE=0x18000008 GPU_CHECK_SECONDS=4 \
  background vanish 2
vanish=$pid
printf 'SIMGPU_PLATFORMS=2\nSIMGPU_DEVICE1_NAME=Other GPU\n' \
  >"$tmp/vanish.conf.later"
# A faulty card whose name is every control character.
controls=$'\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f'
controls+=$'\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f'
SIMGPU_DEVICE0_NAME="GPU${controls}end" GPU_CHECK_SECONDS=4 \
  SIMGPU_DEVICE0_BIT_FAULTS=0:0x1000:0x00000100 background names 1
names_check=$pid

wait "$three"
out=$tmp/three
expect "$out/system.txt" "^drivers: registered $tmp/lib/libnvidia-opencl.so.1\$"
expect "$out/system.txt" "^loader: $tmp/folder/libOpenCL.so.1\$"
names=("Simulated GPU 1: spare" "Simulated GPU" "Simulated GPU \(max: 99 blocks\)")
verdicts=(clean errors clean) total=(0 '[1-9][0-9]*' 0)
for device in 0 1 2; do
  expect "$out/summary.txt" "^try: device $device on 3 blocks, .*try fewer blocks\.\$"
  expect "$out/summary.txt" "^try: device $device on 2 blocks, "
  expect "$out/summary.txt" "^[^ ]+ +$device +[^ ]+ +$device +- +${names[device]} +2/3 +[0-9.]+ +[0-9.]+ +[0-9.]+ +${total[device]} +${verdicts[device]} "
  expect "$out/bench-device-$device.txt" "^device: ${names[device]} \("
  # The worker's log holds a record of every block of each pass.
  log=$out/device-$device-2-blocks.log
  passes=$(grep -c '"kind":"pass"' "$log") || true
  ((passes > 0 && $(grep -c '"kind":"block"' "$log") >= 4 * passes)) ||
    fail "$log does not hold the records of $passes passes"
done
# The faulty device's benchmark fails, and only its own.
expect "$out/summary.txt" '^benchmark: device 1 failed, see bench-device-1.txt$'
expect "$out/summary.txt" '^benchmark: device 2 ok, bench-device-2.txt$'
for ratio in write/plain_store read/plain_load read/permuted_load; do
  expect "$out/bench-device-0.txt" "^$ratio +[0-9.]+\$"
done
[[ $(tail -n 1 "$out/summary.txt") == "verdict: errors" ]] ||
  fail "the machine's verdict is not errors"
! grep -Eq '[0-9],[0-9]' "$out/summary.txt" ||
  fail "decimal commas in the summary in $lang"
rows=("$out"/results/*.jsonl)
((${#rows[@]} == 3)) || fail "not three results: ${rows[*]}"
status=0
env LC_ALL="$lang" "$tmp/folder/collect-results" "$out/results" >"$tmp/table" ||
  status=$?
((status == 1)) || fail "the collector exited with $status on the results, not 1"
expect "$tmp/table" ' 2/3 +[0-9]+\.[0-9] +[0-9]+\.[0-9]{2} +[0-9]+\.[0-9]{2} +[1-9][0-9]* +errors '
! grep -Eq '[0-9],[0-9]' "$tmp/table" || fail "decimal commas in the table in $lang"

wait "$load_failure"
expect "$tmp/load-failure/summary.txt" '^try: device 0 on 3 blocks, .*: failed: Error: clEnqueueNDRangeKernel failed with CL_OUT_OF_RESOURCES \(-5\): .*try fewer blocks\.$'
! grep -q 'on 2 blocks' "$tmp/load-failure/summary.txt" || fail "a retry after passes"
expect "$tmp/load-failure/summary.txt" '^verdict: failed$'

# Each device judged on its own; the two that changed are not tried again.
wait "$vanish"
out=$tmp/vanish/summary.txt
expect "$out" '^try: device 0 on 3 blocks, .*: clean$'
expect "$out" '^try: device 1 on 3 blocks, .*: failed: the device list changed: device 1 was "Simulated GPU", .*now it is "Other GPU", '
expect "$out" '^try: device 2 on 3 blocks, .*: failed: the device list changed: device 2 is gone, 2 devices are left$'
! grep -q 'on 2 blocks' "$out" || fail "a changed device tried again"
expect "$out" '^verdict: failed$'

# The name takes nothing from the verdict, the table or the collector.
wait "$names_check"
out=$tmp/names
expect "$out/summary.txt" '^try: device 0 on 3 blocks, .*, Total Error [1-9][0-9]*: errors$'
expect "$out/summary.txt" '^[^ ]+ +0 +[^ ]+ +0 +- +GPU {32}end +3/3 .* errors '
[[ $(tail -n 1 "$out/summary.txt") == "verdict: errors" ]] ||
  fail "a card named by control characters is not judged errors"
status=0
"$tmp/folder/collect-results" "$out/results" >"$tmp/names-table" || status=$?
((status == 1)) || fail "the collector said $status on the control characters' card, not 1"
expect "$tmp/names-table" ' GPU {32}end +3/3 .* errors '

# A kernel that never completes, a worker killed, and Ctrl+C with and
# without errors found, at once.
SIMGPU_CONFIG_FILE=$tmp/hang.conf GPU_CHECK_SECONDS=30 \
  GPU_CHECK_STALL_SECONDS=4 background freeze 2
freeze=$pid
echo SIMGPU_HANG_LAUNCH=Read:4 >"$tmp/hang.conf.later"
GPU_CHECK_SECONDS=60 background killed 2
killed=$pid
GPU_CHECK_SECONDS=60 SIMGPU_DEVICE0_BIT_FAULTS=0:0x1000:0x00000100 \
  background errors 1
errors=$pid
GPU_CHECK_SECONDS=60 background clean 130
clean=$pid

# Ctrl+C ends the check, whose workers run in process groups of their
# own, at once; errors found before stand. (A check that a signal ends
# takes its shell along, which then ends by the same signal.)
testing "$tmp/errors"
ended_workers=$(workers "$errors")
kill -INT -- "-$errors"
testing "$tmp/clean"
ended_workers+=" $(workers "$clean")"
[[ $ended_workers =~ [0-9].*\ .*[0-9] ]] || fail "not both checks' workers found"
start=$SECONDS
kill -INT -- "-$clean"
wait "$clean" || (($? == 130)) || fail "the check did not end by SIGINT"
((SECONDS - start <= 5)) || fail "Ctrl+C took $((SECONDS - start)) s"
expect "$tmp/clean/summary.txt" '^verdict: interrupted$'
wait "$errors" || fail "Ctrl+C after errors: not status 1 but $?"
for worker in $ended_workers; do
  ! kill -0 "$worker" 2>/dev/null || fail "a worker still runs after Ctrl+C"
done
expect "$tmp/errors.out" '^verdict: errors$'
expect "$tmp/errors.out" ' [1-9][0-9]* +errors +- +then interrupted by SIGINT$'

# A worker killed, as by the kernel's OOM killer: said so at once.
testing "$tmp/killed"
start=$SECONDS
# shellcheck disable=SC2046  # the workers' numbers
kill -KILL $(workers "$killed")
wait "$killed"
((SECONDS - start < 20)) || fail "a killed worker took $((SECONDS - start)) s"
expect "$tmp/killed/summary.txt" '^try: device 0 on 3 blocks, .*: failed: the worker ended with SIGKILL$'
# A kernel that stops responding is no clean one.
wait "$freeze"
expect "$tmp/freeze/summary.txt" '^try: device 0 on 3 blocks, .*: failed: device 0 stopped responding after [0-9.]+ s in pass 2, block 0$'
expect "$tmp/freeze/summary.txt" '^verdict: failed$'

# An OUTDIR like an option is a folder like any other, and one that holds
# an earlier run is refused.
(cd "$tmp/cwd" && GPU_CHECK_SECONDS=2 check 0 faults -x)
[[ $(ls -A "$tmp/cwd") == $'-x\n-x.err\n-x.out' ]] ||
  fail "written outside -x: $(ls -A "$tmp/cwd")"
expect "$tmp/cwd/-x/summary.txt" '^verdict: clean$'

# A filesystem that fills up while the devices are tested: the verdict
# still shows. A temporary folder on a full one is named as such.
if unshare -m true 2>/dev/null && command -v mount >/dev/null; then
  export -f check fail
  export tmp
  # shellcheck disable=SC2016  # expanded by the shell in the namespace
  unshare -m bash -c '
    set -e
    mkdir "$tmp/small" "$tmp/full"
    mount -t tmpfs -o size=256k tmpfs "$tmp/small"
    mount -t tmpfs -o size=4k tmpfs "$tmp/full"
    cat /dev/zero >"$tmp/full/fill" 2>/dev/null || true
    {
      for _ in {1..600}; do
        ! grep -qs "\"kind\":\"pass\"" "$tmp/small/out/device-0-3-blocks.log" ||
          break
        sleep 0.1
      done
      cat /dev/zero >"$tmp/small/fill"
    } 2>/dev/null &
    GPU_CHECK_SECONDS=6 check 2 faults "$tmp/small/out" "$tmp/full-fs"
    TMPDIR=$tmp/full check 2 faults "$tmp/full-tmp" "$tmp/full-tmp"'
  expect "$tmp/full-fs.out" '^verdict: failed$'
  expect "$tmp/full-fs.err" 'cannot write .*/out/summary.txt$'
  if (($(wc -l <"$tmp/full-tmp.err") != 1)) ||
     ! grep -q TMPDIR "$tmp/full-tmp.err"; then
    fail "a full TMPDIR not named: $(cat "$tmp/full-tmp.err")"
  fi
fi

# Fails unless the check into OUTDIR ($tmp/NAME unless given), its output
# into $tmp/NAME.out and .err, is refused before anything is tested, with
# status 2 and one line on standard error that matches the extended regex
# MESSAGE; with standard output /dev/full where NAME is "full".
# Arguments: NAME MESSAGE [OUTDIR]
refused() {
  local log=$tmp/$1 status=0
  if [[ $1 == full ]]; then
    SIMGPU_LOG=$log.simgpu "$tmp/faults/gpu-check" "$log" >/dev/full \
      2>"$log.err" || status=$?
    ((status == 2)) || fail "a full standard output: status $status"
  else
    SIMGPU_LOG=$log.simgpu check 2 faults "${3:-$log}" "$log"
  fi
  (($(wc -l <"$log.err") == 1)) ||
    fail "$1: not one line on standard error: $(cat "$log.err")"
  expect "$log.err" "$2"
  ! grep -qs '^launch ' "$log.simgpu" || fail "$1: a kernel was launched"
}
refused not-empty ' is not empty; ' "$tmp/cwd/-x"
GPU_CHECK_SECONDS=abc refused abc '^gpu-check: GPU_CHECK_SECONDS .*: abc$'
GPU_CHECK_SECONDS=010x refused 010x '^gpu-check: GPU_CHECK_SECONDS .*: 010x$'
GPU_CHECK_STALL_SECONDS=0 refused stall '^gpu-check: GPU_CHECK_STALL_SECONDS '
touch "$tmp/file"
refused file-out 'file/out' "$tmp/file/out"
refused full 'standard output'
GPU_CHECK_DEVICES=1 refused no-device 'there is no device 1$'
SIMGPU_PLATFORMS=11 GPU_CHECK_DEVICES=010,10 \
  refused twice 'GPU_CHECK_DEVICES names device 10 twice$'
# With no driver registered, gpu-check registers those it finds in a
# temporary folder.
for dir in /nonexistent "$tmp/file"; do
  TMPDIR=$dir refused "tmpdir${dir//\//-}" "TMPDIR \\($dir\\)"
done

# The scripts of the source tree refuse, touching nothing.
mkdir "$tmp/tree" && touch "$tmp/tree/keep"
if "$scripts/make-sysroot" x86_64 "$tmp/tree" 2>/dev/null ||
   [[ ! -e $tmp/tree/keep ]]; then
  fail "make-sysroot replaced a folder not its own"
fi
status=0
"$scripts/run-on-simulated-gpu" --faults 2>/dev/null || status=$?
((status == 2)) || fail "run-on-simulated-gpu took --faults: status $status"
