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
# beforehand. Exits 0 when the screen is right, 1 when it is not, 77 when
# tmux or Wine is missing.
set -euo pipefail

readonly kTimeout=90  # seconds to wait for the second status line
readonly kStatusLine='^Write: [0-9]+\.[0-9]{2} \[GiB/s\], Read: [0-9]+\.[0-9]{2} \[GiB/s\], Total Error: [0-9]+$'

# Inside the pane: earlier output, then, once the test says so, the program
# with one block as its answer. Its process id goes to PID_FILE.
if [ "${1:-}" = --pane ]; then
  pid_file=$2 wine64=$3 exe=$4 vendors=$5 prefix=$6
  for i in 1 2 3 4 5; do echo "earlier line $i, which the program must clear"; done
  printf 'earlier%.0s' {1..14}; echo '#'  # 99 characters, longer than a status line
  tmux wait-for go
  printf '1\n' | {
    echo "$BASHPID" >"$pid_file"
    exec env OCL_ICD_VENDORS="$vendors" \
      WINEPREFIX="$prefix" WINEDEBUG=-all \
      SIMGPU_BIT_FAULTS=0:0x1000:0x00000100 "$wine64" "$exe"
  } && status=0 || status=$?
  echo "vramcheck ended with status $status"
  exit 0
fi

if [ $# -ne 4 ]; then
  echo "usage: $0 WINE64 VRAMCHECK_EXE SIMGPU_VENDORS_DIR WINEPREFIX" >&2
  exit 2
fi
wine64=$1 exe=$2 vendors=$3 prefix=$4
wineserver=${wine64%/*}/wineserver
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }
if [ ! -x "$wine64" ] || [ ! -x "$wineserver" ]; then
  echo "SKIP: Wine is not installed ($wine64)"
  exit 77
fi

unset TMUX  # the test's own server, also when run from inside tmux
socket=vramcheck-console-test-$$
work=$(mktemp -d)
pid_file=$work/pid
socket_path=

# True while process $1 runs (a zombie has no command line).
running() { [ -n "$(tr -d '\0' 2>/dev/null <"/proc/$1/cmdline")" ]; }

cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  [ -z "$socket_path" ] || rm -f "$socket_path"
  local pid
  pid=$(cat "$pid_file" 2>/dev/null) || pid=
  if [ -n "$pid" ] && running "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
    running "$pid" && kill -KILL "$pid" 2>/dev/null
  fi
  # The prefix's wineserver ends a few seconds after its last program.
  WINEPREFIX=$prefix timeout 15 "$wineserver" -w ||
    WINEPREFIX=$prefix "$wineserver" -k || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $1"
  echo "The screen (100x30), line by line:"
  sed 's/^/| /' <<<"$screen"
  exit 1
}

start=$SECONDS
tmux -L "$socket" -f /dev/null new-session -d -s test -x 100 -y 30 \
  bash "$0" --pane "$pid_file" "$wine64" "$exe" "$vendors" "$prefix"
tmux -L "$socket" set-option -t test remain-on-exit on
socket_path=$(tmux -L "$socket" display-message -p '#{socket_path}')
capture() { screen=$(tmux -L "$socket" capture-pane -p -t test); }

# The earlier lines are on the screen before the program starts.
screen=
for _ in $(seq 100); do
  capture
  [ "$(grep -c '^earlier' <<<"$screen")" -eq 6 ] && break
  sleep 0.1
done
[ "$(grep -c '^earlier' <<<"$screen")" -eq 6 ] ||
  fail "the pane did not show the earlier lines"
tmux -L "$socket" wait-for -S go

while :; do
  capture
  total=$(grep -oE 'Total Error: [0-9]+' <<<"$screen" | tail -n 1 |
          grep -oE '[0-9]+$') || total=0
  [ "$total" -ge 2 ] && break
  if [ "$(tmux -L "$socket" display-message -p -t test '#{pane_dead}')" = 1 ]; then
    fail "vramcheck ended before its second status line"
  fi
  if [ $((SECONDS - start)) -ge $kTimeout ]; then
    fail "no second status line within $kTimeout s"
  fi
  sleep 0.5
done

mapfile -t lines < <(sed 's/[[:blank:]]*$//' <<<"$screen")
[[ ${lines[0]} =~ $kStatusLine ]] ||
  fail "the first line is not a status line alone"
for ((i = 1; i < ${#lines[@]}; ++i)); do
  [ -z "${lines[i]}" ] || fail "line $((i + 1)) is not empty"
done
grep -q earlier <<<"$screen" && fail "the earlier lines are still there"
echo "PASS: one status line at the top of a cleared screen (Total Error: $total, $((SECONDS - start)) s):"
echo "${lines[0]}"
