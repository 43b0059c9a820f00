#!/usr/bin/env bash
# Builds vramcheck in Release on a machine with a GPU, runs the tests where
# GoogleTest is installed and benchmarks the first GPU OpenCL lists, in a
# few minutes. Everything goes into OUTDIR:
#   system.txt   GPUs, OpenCL drivers and devices as the system reports them
#   build.log    configure and build output
#   tests.log    test output, when the tests could be built
#   devices.txt  the devices as the benchmark sees them
#   bench.txt    the benchmark's table; bench.json its raw numbers
set -uo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
mkdir -p "$1" && out=$(cd "$1" && pwd) || exit 1
cd "$(dirname "$0")/.." || exit 1
build=build/gpu-check
status=0

{
  date -u +%Y-%m-%dT%H:%M:%SZ
  git rev-parse HEAD 2>/dev/null || echo "(not a git checkout)"
  if command -v nvidia-smi >/dev/null; then nvidia-smi -L; fi
  ls /etc/OpenCL/vendors
  if command -v clinfo >/dev/null; then
    clinfo -l
  else
    echo "clinfo: not installed"
  fi
} >"$out/system.txt" 2>&1
cat "$out/system.txt"

echo "== configure and build ($build)"
tests=ON
if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVRAMCHECK_TESTS=ON \
    >"$out/build.log" 2>&1; then
  echo "the tests cannot be configured (GoogleTest missing?); building without"
  tests=OFF
  if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
      -DVRAMCHECK_TESTS=OFF >>"$out/build.log" 2>&1; then
    tail -n 20 "$out/build.log"
    echo "cannot configure: the build needs cmake, g++ and the packages" \
      "ocl-icd-opencl-dev opencl-c-headers opencl-clhpp-headers libfmt-dev"
    exit 1
  fi
fi
build_args=()
if [[ $tests == OFF ]]; then build_args=(--target vramcheck vramcheck_bench); fi
if ! cmake --build "$build" -j "$(nproc)" "${build_args[@]}" \
    >>"$out/build.log" 2>&1; then
  tail -n 30 "$out/build.log"
  echo "build failed: see $out/build.log"
  exit 1
fi

if [[ $tests == ON ]]; then
  echo "== tests"
  if timeout 240 ctest --test-dir "$build" --output-on-failure --timeout 120 \
      -j "$(nproc)" >"$out/tests.log" 2>&1; then
    tail -n 3 "$out/tests.log"
  else
    tail -n 15 "$out/tests.log"
    echo "tests failed: see $out/tests.log"
    status=1
  fi
fi

echo "== benchmark"
bench=$build/bench/vramcheck_bench
"$bench" --list >"$out/devices.txt" 2>&1
cat "$out/devices.txt"
# Device lines read "PLATFORM DEVICE TYPE NAME".
read -r platform device < <(awk '$1 ~ /^[0-9]+$/ && $3 ~ /GPU/ {
  print $1, $2; exit }' "$out/devices.txt")
if [[ -z ${platform:-} ]]; then
  echo "no OpenCL GPU device: see $out/devices.txt"
  exit 1
fi
timeout 300 "$bench" --platform "$platform" --device "$device" --reps 50 \
  --out "$out/bench.json" 2>&1 | tee "$out/bench.txt"
if [[ ${PIPESTATUS[0]} -ne 0 ]]; then
  echo "benchmark failed: see $out/bench.txt"
  status=1
fi
exit "$status"
