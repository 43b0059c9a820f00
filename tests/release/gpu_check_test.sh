#!/usr/bin/env bash
# Runs gpu-check from a folder laid out like the release one against the
# simulated GPU, which it must find as an unregistered NVIDIA driver library
# in a library folder of the test's own; checks its results, once on sound
# memory and once where not all blocks fit and a bit flips in every pass.
# Then, with a stand-in tester where the simulated GPU cannot play the card:
# errors before a retry with fewer blocks, Ctrl+C, and settings and output
# folders it must refuse before testing.
#
#   gpu_check_test.sh VRAMCHECK VRAMCHECK_BENCH SCRIPTS_DIR LIBSIMGPU STAND_IN
set -euo pipefail

if [[ $# -ne 5 ]]; then
  echo "usage: $0 VRAMCHECK VRAMCHECK_BENCH SCRIPTS_DIR LIBSIMGPU STAND_IN" >&2
  exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/folder" "$tmp/stand-in" "$tmp/lib" "$tmp/vendors"
loader=$(ldd "$1" | awk '$1 == "libOpenCL.so.1" { print $3 }')
cp "$1" "$2" "$3/gpu-check" "$3/vramcheck-lib.sh" "$loader" "$tmp/folder/"
ln -s "$(realpath "$4")" "$tmp/lib/libnvidia-opencl.so.1"
# The stand-in's folder, with a benchmark that does nothing.
cp "$3/gpu-check" "$3/vramcheck-lib.sh" "$loader" "$tmp/stand-in/"
cp "$5" "$tmp/stand-in/vramcheck"
printf '#!/bin/sh\n' >"$tmp/stand-in/vramcheck_bench"
chmod +x "$tmp/stand-in/vramcheck_bench"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs the check from FOLDER into OUTDIR, its standard error into
# $tmp/stderr. Arguments: FOLDER OUTDIR
gpu_check() {
  env -u OCL_ICD_VENDORS GPU_CHECK_VENDORS="$tmp/vendors" \
    GPU_CHECK_LIBRARY_DIRS="$tmp/none:$tmp/lib" \
    GPU_CHECK_SECONDS="${GPU_CHECK_SECONDS:-10}" \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
    "$tmp/$1/gpu-check" "$2" 2>"$tmp/stderr"
}

# Runs the check and fails unless it exits with STATUS.
# Arguments: STATUS FOLDER OUTDIR
check() {
  local status=0
  gpu_check "$2" "$3" || status=$?
  ((status == $1)) || fail "$3: exit status $status, not $1"
}

# Fails unless file $1 has a line matching the extended regex $2.
expect() {
  grep -Eq "$2" "$1" || fail "$1 has no line matching '$2'"
}

# Fails unless the check refused at once with status 2 and one line.
refused() {
  (($(wc -l <"$tmp/stderr") == 1)) ||
    fail "not one line on standard error: $(cat "$tmp/stderr")"
  [[ ! -e $tmp/started ]] || fail "the tester was started"
}

# The name holds a text like the block prompt's.
SIMGPU_DEVICE0_NAME='Simulated GPU (max: 99 blocks)' check 0 folder "$tmp/sound"
out=$tmp/sound
expect "$out/vendors/libnvidia-opencl.icd" "^$tmp/lib/libnvidia-opencl.so.1\$"
expect "$out/summary.txt" '^device: Simulated GPU \(max: 99 blocks\)$'
expect "$out/summary.txt" '^blocks: 3 of 3$'
expect "$out/summary.txt" '^last Total Error: 0$'
expect "$out/summary.txt" '^median bandwidth: write [0-9.]+, read [0-9.]+ GiB/s$'
expect "$out/summary.txt" '^verdict: clean$'
expect "$out/status-lines.txt" \
  '^Write: [0-9.]+ \[GiB/s\], Read: [0-9.]+ \[GiB/s\], Total Error: 0$'
lines=$(grep -o 'Total Error: [0-9]*' "$out/vramcheck-3-blocks.txt" | wc -l)
((lines == $(wc -l <"$out/status-lines.txt"))) ||
  fail "status-lines.txt does not hold the $lines status lines"
expect "$out/summary.txt" "^status lines: $lines\$"
for ratio in write/plain_store read/plain_load read/permuted_load; do
  expect "$out/bench.txt" "^$ratio +[0-9.]+\$"
done

# Errors on 3 blocks, then too little memory: the clean retry on fewer
# blocks must not hide them.
STAND_IN=errors-refill check 1 stand-in "$tmp/refill"
expect "$tmp/refill/summary.txt" '^try: 3 blocks, .*Total Error 53, .*try fewer blocks\.$'
expect "$tmp/refill/summary.txt" '^verdict: errors \(then Error: .*try fewer blocks\.\)$'

# Ctrl+C reaches the check's process group, not the tester's, which
# `timeout` gives a group of its own.
set -m
STAND_IN_LOG=$tmp/started gpu_check stand-in "$tmp/interrupted" &
check_pid=$!
set +m
for _ in {1..100}; do
  [[ $(wc -l <"$tmp/started" 2>/dev/null) == 2 ]] && break
  sleep 0.1
done
sleep 1
kill -INT -- "-$check_pid"
start=$SECONDS status=0
wait "$check_pid" || status=$?
((status == 130)) || fail "exit status $status after Ctrl+C, not 130"
((SECONDS - start <= 5)) || fail "Ctrl+C took $((SECONDS - start)) s"
! kill -0 "$(tail -n 1 "$tmp/started")" 2>/dev/null ||
  fail "the tester still runs after Ctrl+C"
expect "$tmp/interrupted/summary.txt" '^verdict: interrupted by SIGINT$'
rm "$tmp/started"

# Refused before anything is tested, with one line.
export STAND_IN_LOG=$tmp/started
GPU_CHECK_SECONDS=abc check 2 stand-in "$tmp/abc"
refused
touch "$tmp/file"
check 2 stand-in "$tmp/file/out"
refused
check 2 stand-in "$tmp/full" >/dev/full
refused

# The third block does not fit, and a bit of the first flips in every pass.
export SIMGPU_FAIL_BLOCK=3 SIMGPU_BIT_FAULTS=0:0x1000:0x00000100
check 1 folder "$tmp/faulty"
out=$tmp/faulty
expect "$out/vramcheck-3-blocks.txt" 'try fewer blocks'
expect "$out/summary.txt" '^blocks: 2 of 3$'
expect "$out/summary.txt" '^last Total Error: [1-9][0-9]*$'
expect "$out/summary.txt" '^verdict: errors$'
