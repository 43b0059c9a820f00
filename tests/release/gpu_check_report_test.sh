#!/usr/bin/env bash
# The report pages of a GPU check on four simulated GPUs: device 1 flips a
# bit in every pass, device 2's clock runs three times slower than its
# siblings', device 3's name holds markup, quotes and control bytes. The
# machine's report.html and the collector's page of its results must say
# what the summary says, show device 3's name as text, never as markup,
# fetch nothing, and render in headless Chromium; the test is skipped
# (status 77), after checking the pages' text, where no Chromium is
# installed. With VRAMCHECK_SCREENSHOT set, the screenshot of report.html
# is copied there (doc/gpu-check-report.png is made so).
#
#   gpu_check_report_test.sh GPU_CHECK SIMGPU_VENDORS_DIR
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 GPU_CHECK SIMGPU_VENDORS_DIR" >&2
  exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/folder"
cp "$1" "$tmp/folder/"
# A benchmark that only names its device, as the simulated GPU does.
cat >"$tmp/folder/vramcheck_bench" <<'EOF'
#!/usr/bin/env bash
name=SIMGPU_DEVICE$1_NAME
echo "device: ${!name-Simulated GPU} (stand-in benchmark)"
EOF
chmod +x "$tmp/folder/vramcheck_bench"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Fails unless file $1 holds the fixed text $2 ($3 times where given).
holds() {
  local count
  count=$(grep -oF -- "$2" "$1" | wc -l) || true
  if [[ -n ${3:-} ]]; then
    ((count == $3)) || fail "$1 holds '$2' $count times, not $3"
  else
    ((count > 0)) || fail "$1 does not hold '$2'"
  fi
}

# Fails unless page $1 is one self-contained file of text.
self_contained() {
  ! grep -Eiq '<script|<link|<img|<iframe|@import|https?:|src=|url\([^#]' \
    "$1" || fail "$1 fetches or runs something"
  ! LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' "$1" ||
    fail "$1 holds control bytes"
}

name=$'GPU <b>&amp; "quoted" \'x\'\x01\x1b[31m\x7fend'
escaped='GPU &lt;b&gt;&amp;amp; &quot;quoted&quot; &#39;x&#39;  [31m end'
out=$tmp/out
status=0
env -u LANGUAGE LC_ALL=C.UTF-8 OCL_ICD_VENDORS="$2" OCL_ICD_PLATFORM_SORT=none \
  POCL_CACHE_DIR="$tmp/pocl" GPU_CHECK_SECONDS=8 SIMGPU_PLATFORMS=4 \
  SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x10000008 \
  SIMGPU_DEVICE1_GLOBAL_MEM_SIZE=0x10000008 \
  SIMGPU_DEVICE2_GLOBAL_MEM_SIZE=0x10000008 \
  SIMGPU_DEVICE3_GLOBAL_MEM_SIZE=0x10000008 \
  SIMGPU_DEVICE1_BIT_FAULTS=0:0x1000:0x00000100 SIMGPU_DEVICE2_SLOWDOWN=3 \
  SIMGPU_DEVICE3_NAME="$name" \
  "$tmp/folder/gpu-check" "$out" >"$tmp/check.out" 2>"$tmp/check.err" ||
  status=$?
((status == 1)) || fail "the check exited with $status, not 1: $(cat "$tmp/check.err")"

# The summary's table and traces: each device's write, read, total error,
# verdict and speed, and a trace of block characters.
summary=$out/summary.txt
speeds=(ok ok slow -)
for device in 0 1 2 3; do
  line=$(grep -E "^[^ ]+ +$device +[^ ]+ +$device +- " "$summary") ||
    fail "no row of device $device in the summary"
  read -r write read total verdict speed <<<"$(awk '{
    print $(NF-4), $(NF-3), $(NF-2), $(NF-1), $NF }' <<<"$line")"
  [[ $speed == "${speeds[device]}" ]] ||
    fail "device $device is $speed, not ${speeds[device]}: $line"
  row[device]="<td class=\"n\">$write</td><td class=\"n\">$read</td><td class=\"n\">$total</td><td class=\"$verdict\">$verdict</td>"
  grep -Eq "^trace: device $device write [▁▂▃▄▅▆▇█]+ read [▁▂▃▄▅▆▇█]+$" \
    "$summary" || fail "no trace of device $device in the summary"
done
[[ $(tail -n 1 "$summary") == "verdict: errors" ]] || fail "not errors"

# The machine's page: its verdict first, each device's figures in the
# table, the slow device named, the faulty one's passes and blocks marked
# and no other's, the name as text.
page=$out/report.html
self_contained "$page"
[[ $(grep -m 1 -o '<h1[^>]*>[^<]*</h1>' "$page") == \
   '<h1 class="errors">Verdict: errors</h1>' ]] ||
  fail "the page does not start with the verdict errors"
for device in 0 1 2 3; do holds "$page" "${row[device]}" 1; done
holds "$page" '<td class="slow">slow</td>' 1
holds "$page" "<td>$escaped</td>" 1
holds "$page" "<h3>Device 3: $escaped · " 1
! grep -qF '<b>&amp;' "$page" || fail "a device's name became markup"
for device in 0 1 2 3; do
  section=$(sed -n "/<section id=\"device-$device\">/,/<\/section>/p" "$page")
  grep -q '<path class="write"' <<<"$section" ||
    fail "no bandwidth drawn for device $device"
  passes=$(grep -o 'class="error-pass"' <<<"$section" | wc -l) || true
  blocks=$(grep -o 'class="error-block"' <<<"$section" | wc -l) || true
  if ((device == 1)); then
    ((passes > 0 && blocks >= passes)) ||
      fail "device 1: $passes passes, $blocks blocks with errors marked"
  else
    ((passes == 0 && blocks == 0)) || fail "device $device marked as faulty"
  fi
done

# The collector's page of the results, and one it cannot write.
status=0
"$tmp/folder/gpu-check" collect --html "$tmp/fleet.html" "$out/results" \
  >/dev/null || status=$?
((status == 1)) || fail "the collector exited with $status, not 1"
fleet=$tmp/fleet.html
self_contained "$fleet"
holds "$fleet" '<h1 class="errors">Fleet: errors</h1>' 1
holds "$fleet" '<span class="errors"><b>1</b> errors</span>' 1
holds "$fleet" '<span class="clean"><b>3</b> clean</span>' 1
holds "$fleet" '<g class="gpu flagged">' 2
holds "$fleet" '<g class="gpu">' 2
holds "$fleet" "$escaped" 1
status=0
"$tmp/folder/gpu-check" collect --html "$tmp/none/fleet.html" "$out/results" \
  >/dev/null 2>"$tmp/collect.err" || status=$?
if ((status != 2)) || [[ $(cat "$tmp/collect.err") != \
  "gpu-check: cannot write $tmp/none/fleet.html" ]]; then
  fail "an unwritable page: status $status, $(cat "$tmp/collect.err")"
fi

# Both pages render, at the width the guides show them.
chromium=$(command -v chromium-headless-shell || command -v chromium) || {
  echo "no chromium-headless-shell or chromium: the pages are not rendered"
  exit 77
}
for html in "$page" "$fleet"; do
  png=${html%.html}.png
  "$chromium" --headless --no-sandbox --disable-gpu --hide-scrollbars \
    --window-size=900,1100 --screenshot="$png" "file://$html" \
    >"$tmp/chromium.log" 2>&1 || fail "Chromium failed: $(cat "$tmp/chromium.log")"
  # A PNG's signature, then its width and height, 900 by 1100.
  [[ $(od -An -tx1 -N24 "$png" | tr -d ' \n') == \
     89504e470d0a1a0a0000000d49484452000003840000044c ]] ||
    fail "no 900 x 1100 PNG of $html"
done
if [[ -n ${VRAMCHECK_SCREENSHOT:-} ]]; then
  cp "$out/report.png" "$VRAMCHECK_SCREENSHOT"
fi
