#!/usr/bin/env bash
# The Windows program's status line on a real console: runs vramcheck.exe
# under Wine in a tmux pane, on the simulated GPU with one bit flipped per
# pass, after a few lines of earlier output. Once the pane shows a Total
# Error of 2 or more (so at least two status lines were drawn), the captured
# screen must hold exactly one status line, on its first line, and nothing
# else. Wine's console prints escape sequences as text, so this fails when
# the program clears the console with escape sequences.
#
#   windows_console_test.sh WINE64 VRAMCHECK_EXE SIMGPU_VENDORS_DIR WINEPREFIX
#
# WINE64 is Wine's loader (/usr/lib/wine/wine64), WINEPREFIX a prefix made
# beforehand. Exits 77 when tmux or Wine is missing.
set -euo pipefail

readonly kTimeout=90  # seconds to wait for the second status line
readonly kStatusLine='^Write: [0-9]+\.[0-9]{2} \[GiB/s\], Read: [0-9]+\.[0-9]{2} \[GiB/s\], Total Error: [0-9]+$'

# Inside the pane: earlier output, then, once the test says so, the program
# with one block as its answer.
if [ "${1:-}" = --pane ]; then
  for i in 1 2 3 4 5; do echo "earlier line $i, which the program must clear"; done
  printf 'earlier%.0s' {1..14}; echo '#'  # 99 characters, longer than a status line
  tmux wait-for go
  printf '1\n' | env OCL_ICD_VENDORS="$4" WINEPREFIX="$5" WINEDEBUG=-all \
    SIMGPU_BIT_FAULTS=0:0x1000:0x00000100 "$2" "$3"
  exit 0
fi

wine64=$1 exe=$2 vendors=$3 prefix=$4
wineserver=${wine64%/*}/wineserver
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }
[ -x "$wine64" ] && [ -x "$wineserver" ] ||
  { echo "SKIP: Wine is not installed ($wine64)"; exit 77; }

unset TMUX  # the test's own server, also when run from inside tmux
tmux=(tmux -L "vramcheck-console-test-$$")
cleanup() {
  local socket
  socket=$("${tmux[@]}" display-message -p '#{socket_path}' 2>/dev/null) || true
  # Ending the server hangs the pane up, which ends the program; the
  # prefix's wineserver follows a few seconds after its last program.
  "${tmux[@]}" kill-server 2>/dev/null || true
  rm -f "$socket"
  WINEPREFIX=$prefix timeout 15 "$wineserver" -w ||
    WINEPREFIX=$prefix "$wineserver" -k || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

capture() { screen=$("${tmux[@]}" capture-pane -p -t test); }
fail() {
  echo "FAIL: $1"
  echo "The screen (100x30), line by line:"
  sed 's/^/| /' <<<"$screen"
  exit 1
}

start=$SECONDS
"${tmux[@]}" -f /dev/null new-session -d -s test -x 100 -y 30 \
  bash "$0" --pane "$wine64" "$exe" "$vendors" "$prefix"
"${tmux[@]}" set-option -t test remain-on-exit on

# The earlier lines are on the screen before the program starts.
for _ in $(seq 100); do
  capture
  [ "$(grep -c '^earlier' <<<"$screen")" -eq 6 ] && break
  sleep 0.1
done
[ "$(grep -c '^earlier' <<<"$screen")" -eq 6 ] ||
  fail "the pane did not show the earlier lines"
"${tmux[@]}" wait-for -S go

while :; do
  capture
  total=$(grep -oE 'Total Error: [0-9]+' <<<"$screen" | tail -n 1 |
          grep -oE '[0-9]+$') || total=0
  [ "$total" -ge 2 ] && break
  [ "$("${tmux[@]}" display-message -p -t test '#{pane_dead}')" != 1 ] ||
    fail "vramcheck ended before its second status line"
  [ $((SECONDS - start)) -lt $kTimeout ] ||
    fail "no second status line within $kTimeout s"
  sleep 0.5
done

mapfile -t lines < <(sed 's/[[:blank:]]*$//' <<<"$screen")
[[ ${lines[0]} =~ $kStatusLine ]] ||
  fail "the first line is not a status line alone"
for ((i = 1; i < ${#lines[@]}; ++i)); do
  [ -z "${lines[i]}" ] || fail "line $((i + 1)) is not empty"
done
echo "PASS: one status line at the top of a cleared screen:"
echo "${lines[0]}"
