#!/usr/bin/env bash
# The Windows program on a real console: runs vramcheck.exe under Wine in
# tmux panes, on the simulated GPU, one run after the other (Wine mixes up
# the consoles of programs started at once).
#
# - Alone on its console, as after a double click (Wine gives a program
#   started directly in a pane a console of its own): a refused answer is
#   followed by "Press Enter to close this window.", the program still runs
#   two seconds later, and Enter ends it with status 1.
# - Started through `cmd /c`, which shares the console, or with standard
#   input from a pipe: it ends at once, with the lines it always printed.
# - The status line, with one bit flipped per pass, after a few lines of
#   earlier output: once the pane shows a Total Error of 2 or more (so at
#   least two status lines were drawn), the screen must hold exactly one
#   status line, on its first line, and nothing else. Wine's console prints
#   escape sequences as text, so this fails when the program clears the
#   console with escape sequences.
#
#   windows_console_test.sh WINE64 VRAMCHECK_EXE SIMGPU_VENDORS_DIR WINEPREFIX \
#     RUNTIME_DIR
#
# WINE64 is Wine's loader (/usr/lib/wine/wine64), WINEPREFIX a prefix made
# beforehand and RUNTIME_DIR the runtime folder Wine gets as XDG_RUNTIME_DIR.
# Exits 77 when tmux or Wine is missing.
set -euo pipefail

readonly kTimeout=90  # seconds to wait for what a pane should show
readonly kStatusLine='^Write: [0-9]+\.[0-9]{2} \[GiB/s\], Read: [0-9]+\.[0-9]{2} \[GiB/s\], Total Error: [0-9]+$'
readonly kBlockPrompt='^How many memory blocks will you test\? \(max: 8 blocks\)$'
readonly kClosePrompt='Press Enter to close this window.'

# Inside a pane: runs the program as the run named by $2 does, then shows its
# exit status.
if [ "${1:-}" = --pane ]; then
  run=$2 wine64=$3 exe=$4
  export OCL_ICD_VENDORS=$5 WINEPREFIX=$6 XDG_RUNTIME_DIR=$7 WINEDEBUG=-all
  case $run in
    alone) "$wine64" "$exe" ;;
    cmd) "$wine64" cmd /c "$exe" ;;
    pipe) printf '0\n' | "$wine64" "$exe" ;;
    status-line)
      for i in 1 2 3 4 5; do echo "earlier line $i, which the program must clear"; done
      printf 'earlier%.0s' {1..14}; echo '#'  # 99 characters, longer than a status line
      tmux wait-for go
      printf '1\n' | SIMGPU_BIT_FAULTS=0:0x1000:0x00000100 "$wine64" "$exe" ;;
  esac && status=0 || status=$?
  echo "exit status $status"
  exit 0
fi

wine64=$1 exe=$2 vendors=$3 prefix=$4 runtime_dir=$5
wineserver=${wine64%/*}/wineserver
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }
[ -x "$wine64" ] && [ -x "$wineserver" ] ||
  { echo "SKIP: Wine is not installed ($wine64)"; exit 77; }

unset TMUX  # the test's own server, also when run from inside tmux
tmux=(tmux -L "vramcheck-console-test-$$")
cleanup() {
  local socket
  socket=$("${tmux[@]}" display-message -p '#{socket_path}' 2>/dev/null) || true
  # Ending the server hangs the panes up, which ends the programs; the
  # prefix's wineserver follows a few seconds after its last program.
  "${tmux[@]}" kill-server 2>/dev/null || true
  rm -f "$socket"
  WINEPREFIX=$prefix timeout 15 "$wineserver" -w ||
    WINEPREFIX=$prefix "$wineserver" -k || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Starts the run named $1 in a session, and pane, of that name, which stays
# when the run ends.
start() {
  run=$1 started=$SECONDS
  "${tmux[@]}" -f /dev/null new-session -d -s "$run" -x 100 -y 30 \
    bash "$0" --pane "$run" "$wine64" "$exe" "$vendors" "$prefix" \
      "$runtime_dir" \; \
    set-option -t "$run" remain-on-exit on
}
capture() { screen=$("${tmux[@]}" capture-pane -p -t "$run"); }
fail() {
  echo "FAIL ($run): $1"
  echo "The screen (100x30), line by line:"
  sed 's/^/| /' <<<"$screen"
  exit 1
}
# Waits until the screen shows a line that matches the extended regular
# expression $1.
await() {
  while capture; ! grep -qE "$1" <<<"$screen"; do
    [ $((SECONDS - started)) -lt $kTimeout ] ||
      fail "no line like $1 within $kTimeout s"
    sleep 0.2
  done
}
# Fails with $2 unless the last lines of the screen that are not empty,
# before tmux's own line for a pane that has ended, are $1. (Wine's console
# may scroll the first line off the screen when a program ends.)
expect_screen() {
  [ "$(sed 's/[[:blank:]]*$//' <<<"$screen" |
       grep -v -e '^$' -e '^Pane is dead' | tail -n "$(wc -l <<<"$1")")" = "$1" ] ||
    fail "$2"
}

# The dialogue refused with the answer 0, typed into the pane, from the
# second line on.
readonly kRefused='0: Simulated GPU
How many memory blocks will you test? (max: 8 blocks)
0
Invalid memory blocks number.'

# Alone on its console: the program waits for Enter after the line that
# ends it.
start alone
await "$kBlockPrompt"
"${tmux[@]}" send-keys -t alone 0 Enter
await "^$kClosePrompt\$"
expect_screen "$kRefused"$'\n'"$kClosePrompt" \
  "the close prompt does not follow the rejection line"
sleep 2
capture
expect_screen "$kRefused"$'\n'"$kClosePrompt" "it ended without Enter"
"${tmux[@]}" send-keys -t alone Enter
await '^exit status'
expect_screen "$kClosePrompt"$'\nexit status 1' \
  "Enter ended it with another status"

# Sharing the console, or reading a pipe: it ends at once, as it always did.
start cmd
await "$kBlockPrompt"
"${tmux[@]}" send-keys -t cmd 0 Enter
await '^exit status'
expect_screen "$kRefused"$'\nexit status 1' "it did not end at once"
start pipe
await '^exit status'
expect_screen "$(grep -vx 0 <<<"$kRefused")"$'\nexit status 1' \
  "it did not end at once"

# The status line.
start status-line
# The earlier lines are on the screen before the program starts.
await '^earlier(earlier)+#$'
"${tmux[@]}" wait-for -S go
while :; do
  capture
  total=$(grep -oE 'Total Error: [0-9]+' <<<"$screen" | tail -n 1 |
          grep -oE '[0-9]+$') || total=0
  [ "$total" -ge 2 ] && break
  ! grep -q '^exit status' <<<"$screen" ||
    fail "vramcheck ended before its second status line"
  [ $((SECONDS - started)) -lt $kTimeout ] ||
    fail "no second status line within $kTimeout s"
  sleep 0.5
done

mapfile -t lines < <(sed 's/[[:blank:]]*$//' <<<"$screen")
[[ ${lines[0]} =~ $kStatusLine ]] ||
  fail "the first line is not a status line alone"
for ((i = 1; i < ${#lines[@]}; ++i)); do
  [ -z "${lines[i]}" ] || fail "line $((i + 1)) is not empty"
done
echo "PASS: the close prompt alone on a console, none when shared or piped;"
echo "one status line at the top of a cleared screen:"
echo "${lines[0]}"
