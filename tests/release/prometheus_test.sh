#!/usr/bin/env bash
# The GPU check's metrics as Prometheus takes them. A run with errors on two
# simulated GPUs (device 1 flips a bit; device 0's name holds a quote, a
# backslash, a line end and a byte that is no UTF-8) and then a clean run on
# one, each writing node_exporter's textfile into a folder of the test's:
# promtool checks both runs' files, and a node_exporter on 127.0.0.1 serves
# the textfile with no scrape error, the error gauge non-zero for the faulty
# GPU alone, until the clean run replaces it, and a check refused for its
# settings replaces that with the verdict failed. Exits 77 where promtool,
# node_exporter or curl is missing.
#
#   prometheus_test.sh GPU_CHECK VRAMCHECK_BENCH SIMGPU_VENDORS_DIR
set -euo pipefail

for program in promtool prometheus-node-exporter curl; do
  command -v "$program" >/dev/null || {
    echo "Skipped: $program is not installed (packages prometheus," \
      "prometheus-node-exporter, curl)"
    exit 77
  }
done
tmp=$(mktemp -d)
exporter=
trap '[[ -z $exporter ]] || kill "$exporter"; rm -rf "$tmp"' EXIT
mkdir "$tmp/bin" "$tmp/textfiles"
cp "$1" "$2" "$tmp/bin/"
vendors=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs the check into $tmp/NAME with the settings given and fails unless it
# exits with STATUS. Arguments: NAME STATUS [VAR=VALUE...]
run() {
  local status=0
  env OCL_ICD_VENDORS="$vendors" POCL_CACHE_DIR="$tmp/pocl" \
    GPU_CHECK_SECONDS=3 GPU_CHECK_TEXTFILE_DIR="$tmp/textfiles" \
    SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x10000008 "${@:3}" \
    "$tmp/bin/gpu-check" "$tmp/$1" >"$tmp/$1.log" 2>&1 || status=$?
  ((status == $2)) || fail "$1: exit status $status, not $2: $(cat "$tmp/$1.log")"
}

# Fails unless run NAME's metrics pass promtool's checks and lint, hold no
# time stamp, and the textfile is theirs, whole and readable by all.
check_files() {
  local file=$tmp/$1/metrics.prom
  promtool check metrics <"$file" || fail "$1: promtool refuses $file"
  ! sed 's/{.*}//' "$file" | grep -v '^#' | awk 'NF != 2' | grep . ||
    fail "$1: samples with time stamps"
  cmp "$file" "$tmp/textfiles/vramcheck.prom" ||
    fail "$1: the textfile differs from $file"
  [[ $(stat -c %a "$tmp/textfiles/vramcheck.prom") == 644 ]] ||
    fail "$1: the textfile is not readable by all"
  [[ $(ls -A "$tmp/textfiles") == vramcheck.prom ]] ||
    fail "$1: the textfile folder holds $(ls -A "$tmp/textfiles")"
}

listening() { (: <"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

scrape() {
  curl -sf "http://127.0.0.1:$port/metrics" >"$tmp/scraped" ||
    fail "node_exporter does not answer"
  grep -q '^node_textfile_scrape_error 0$' "$tmp/scraped" ||
    fail "node_exporter's scrape error: $(grep textfile "$tmp/scraped")"
}

# The value of the scraped sample of METRIC whose labels match the extended
# regex LABELS, or "none". Arguments: METRIC LABELS
sample() {
  grep -E "^$1\{$2\} " "$tmp/scraped" | awk '{ print $NF }' | grep . ||
    echo none
}

run errors 1 SIMGPU_PLATFORMS=2 SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x10000008 \
  SIMGPU_DEVICE1_BIT_FAULTS=0:0x1000:0x00000100 \
  SIMGPU_DEVICE0_NAME=$'Sim "GPU" \\ 1\n2 \xff'
check_files errors

for ((port = 20000 + RANDOM % 20000; ; port++)); do
  listening "$port" || break
done
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" \
  --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory="$tmp/textfiles" >"$tmp/exporter.log" 2>&1 &
exporter=$!
for _ in {1..100}; do
  listening "$port" && break
  sleep 0.1
done
scrape
[[ $(sample vramcheck_word_errors 'device="0",model_name="Sim \\"GPU\\" \\\\ 1 2 [^"]+"') == 0 ]] ||
  fail "device 0 shows errors, or its name is wrong: $(grep word_errors "$tmp/scraped")"
(($(sample vramcheck_word_errors 'device="1",model_name="Simulated GPU"') > 0)) ||
  fail "the faulty device shows no errors"
[[ $(sample vramcheck_device_verdict 'device="1",.*verdict="errors"') == 1 &&
   $(sample vramcheck_machine_verdict 'verdict="errors"') == 1 ]] ||
  fail "the verdicts are not errors"

run clean 0
check_files clean
scrape
[[ $(sample vramcheck_machine_verdict 'verdict="clean"') == 1 &&
   $(sample vramcheck_word_errors 'device="0",model_name="Simulated GPU"') == 0 &&
   $(sample vramcheck_word_errors 'device="1",.*') == none ]] ||
  fail "the clean run's textfile does not replace the earlier one"

# A check that cannot run leaves no earlier verdict standing.
run refused 2 GPU_CHECK_SECONDS=x
promtool check metrics <"$tmp/textfiles/vramcheck.prom" ||
  fail "promtool refuses the refused check's textfile"
scrape
[[ $(sample vramcheck_machine_verdict 'verdict="failed"') == 1 &&
   $(sample vramcheck_word_errors '.*') == none ]] ||
  fail "a check that could not run does not say failed"
echo "the metrics pass promtool and node_exporter"
