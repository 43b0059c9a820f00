#!/usr/bin/env bash
# Runs gpu-check from a folder laid out like the release one against the
# simulated GPU, which it must find as an unregistered NVIDIA driver library
# in a library folder of the test's own; checks its results, once on sound
# memory and once where not all blocks fit and a bit flips in every pass.
#
#   gpu_check_test.sh VRAMCHECK VRAMCHECK_BENCH GPU_CHECK LIBSIMGPU
set -euo pipefail

if [[ $# -ne 4 ]]; then
  echo "usage: $0 VRAMCHECK VRAMCHECK_BENCH GPU_CHECK LIBSIMGPU" >&2
  exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/folder" "$tmp/lib" "$tmp/vendors"
loader=$(ldd "$1" | awk '$1 == "libOpenCL.so.1" { print $3 }')
cp "$1" "$2" "$3" "$loader" "$tmp/folder/"
ln -s "$(realpath "$4")" "$tmp/lib/libnvidia-opencl.so.1"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs the check into $tmp/$1 and fails unless it exits with status $2.
check() {
  local status=0
  env -u OCL_ICD_VENDORS GPU_CHECK_VENDORS="$tmp/vendors" \
    GPU_CHECK_LIBRARY_DIRS="$tmp/none:$tmp/lib" GPU_CHECK_SECONDS=10 \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
    "$tmp/folder/gpu-check" "$tmp/$1" || status=$?
  ((status == $2)) || fail "$1: exit status $status, not $2"
}

# Fails unless file $1 has a line matching the extended regex $2.
expect() {
  grep -Eq "$2" "$1" || fail "$1 has no line matching '$2'"
}

check sound 0
out=$tmp/sound
expect "$out/vendors/libnvidia-opencl.icd" "^$tmp/lib/libnvidia-opencl.so.1\$"
expect "$out/summary.txt" '^device: Simulated GPU$'
expect "$out/summary.txt" '^blocks: 3 of 3$'
expect "$out/summary.txt" '^last Total Error: 0$'
expect "$out/summary.txt" '^verdict: passed$'
expect "$out/status-lines.txt" \
  '^Write: [0-9.]+ \[GiB/s\], Read: [0-9.]+ \[GiB/s\], Total Error: 0$'
lines=$(grep -o 'Total Error: [0-9]*' "$out/vramcheck-3-blocks.txt" | wc -l)
((lines == $(wc -l <"$out/status-lines.txt"))) ||
  fail "status-lines.txt does not hold the $lines status lines"
expect "$out/summary.txt" "^status lines: $lines\$"
for ratio in write/plain_store read/plain_load read/permuted_load; do
  expect "$out/bench.txt" "^$ratio +[0-9.]+\$"
done

# The third block does not fit, and a bit of the first flips in every pass.
export SIMGPU_FAIL_BLOCK=3 SIMGPU_BIT_FAULTS=0:0x1000:0x00000100
check faulty 1
out=$tmp/faulty
expect "$out/vramcheck-3-blocks.txt" 'try fewer blocks'
expect "$out/summary.txt" '^blocks: 2 of 3$'
expect "$out/summary.txt" '^last Total Error: [1-9][0-9]*$'
expect "$out/summary.txt" '^verdict: errors found$'
