#!/usr/bin/env bash
# Times the collector, `gpu-check collect`, on RECORDS result records
# (100000 unless given) of one job array, one file each as the Slurm tasks
# write them, eight GPUs of a name per host, every 97th with errors and
# every 89th slow; beside it, in the same run, `cat FILES | sort` over the
# same files, the least any collector must do, and `gpu-check health` on
# them for one host, as the Slurm health check runs it within its minute.
#
#   collect_benchmark.sh GPU_CHECK [RECORDS]
set -euo pipefail
program=$(realpath "$1") records=${2:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/results"

awk -v n="$records" -v dir="$work/results" '
  # Twelve passes at WRITE GiB/s, the last one with ERRORS.
  function passes(write, errors,    p, text) {
    for (p = 0; p < 12; p++) {
      text = text (p ? "," : "") sprintf("{\"bit_errors\":%d," \
        "\"read_gibs\":812.5,\"seconds\":14.9,\"word_errors\":%d," \
        "\"write_gibs\":%s}", p == 11 ? errors : 0, p == 11 ? errors : 0,
        write)
    }
    return text
  }
  BEGIN {
  for (task = 0; task < n; task++) {
    host = sprintf("node%05d", int(task / 8))
    errors = task % 97 == 96 ? 3 : 0
    write_gibs = task % 89 == 88 ? "500.5" : "905.25"
    file = sprintf("%s/4242_%d_%s_abcdef.jsonl", dir, task, host)
    printf "{\"array\":{\"count\":%d,\"max\":%d,\"min\":0,\"step\":1}," \
      "\"bit_errors\":%d,\"blocks\":630,\"device\":%d," \
      "\"error_blocks\":[%s],\"format\":1,\"gpu\":\"%d\"," \
      "\"host\":\"%s\",\"identity\":{\"driver_version\":\"550.54\"," \
      "\"memory\":85899345920,\"name\":\"NVIDIA H100 80GB HBM3\"," \
      "\"pci_bus\":\"0000:%02x:00.0\",\"uuid\":\"\"," \
      "\"vendor\":\"NVIDIA Corporation\"},\"job\":\"4242\"," \
      "\"max_blocks\":639,\"message\":\"\",\"pass_count\":12," \
      "\"passes\":[%s],\"read_gibs\":812.5,\"restart\":0," \
      "\"seconds\":180.2,\"started\":\"2026-12-09T13:00:00Z\"," \
      "\"task\":%d,\"verdict\":\"%s\",\"word_errors\":%d," \
      "\"write_gibs\":%s}\n",
      n, n - 1, errors, task % 8,
      errors ? "{\"bit_errors\":3,\"block\":17,\"pass\":12,\"word_errors\":3}" : "",
      task % 8, host, 0x18 + task % 8, passes(write_gibs, errors), task,
      errors ? "errors" : "clean", errors, write_gibs > file
    close(file)
  }
}'

TIMEFORMAT='%R'
cd "$work/results"
sorted=$({ time find . -name '*.jsonl' -print0 | xargs -0 cat |
  LC_ALL=C sort >/dev/null; } 2>&1)
collected=$({ time { "$program" collect . >"$work/table" 2>"$work/errors"
  echo $? >"$work/status"; }; } 2>&1)
status=$(<"$work/status")
health=$({ time "$program" health --host node00012 . >/dev/null || true; } 2>&1)
echo "records:           $records"
echo "cat FILES | sort:  $sorted s"
echo "gpu-check collect: $collected s (status $status, $(($(wc -l <"$work/table") - 4)) rows)"
awk -v a="$collected" -v b="$sorted" 'BEGIN { printf "ratio:             %.2f\n", a / b }'
echo "gpu-check health:  $health s (one host's newest records)"
