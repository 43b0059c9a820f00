# shellcheck shell=bash
# What gpu-check and the Slurm job array share, sourced by both: running
# vramcheck so that an interrupt reaches it, learning a device's name and
# block limit from the dialogue, reading the status lines, and the verdict.
#
# A run's verdict, and the exit status of the script that reports it:
#   clean        0  the tester ran its whole time, drew status lines and
#                   found no error
#   errors       1  a status line showed errors, whatever happened after
#   failed       2  the memory could not be tested; the reason goes with it
#   interrupted  a signal ended the script; it ends by that signal
#                (130 for Ctrl+C, 143 for kill)

readonly kProbeSeconds=30  # the dialogue's time limit
readonly kBlockPrompt='^How many memory blocks will you test\? \(max: ([0-9]+) blocks\)$'
readonly kDevicePrompt='^Choose Device Number\.\(0\.\.([0-9]+)\)$'
readonly kTesterLine='^(Error: |Device not found\.$|Invalid (device|memory blocks) number\.$|Failure )'

running_pid=  # the step running now, ended by stop_running

# Runs COMMAND... with standard input from file IN and its output into files
# OUT and ERR (which may be OUT), ending it after LIMIT (a duration as
# `timeout` takes it). The step runs in the background while the script
# waits, so that a signal runs the script's trap at once. Returns the
# command's status: 124, or 137 where it had to be killed, at the limit.
# Arguments: LIMIT IN OUT ERR COMMAND...
run_limited() {
  # No local variables: a trap runs in this function's scope while it waits.
  if [[ $4 == "$3" ]]; then
    timeout -k 10 "$1" "${@:5}" <"$2" >"$3" 2>&1 &
  else
    timeout -k 10 "$1" "${@:5}" <"$2" >"$3" 2>"$4" &
  fi
  running_pid=$!
  wait "$running_pid"
  set -- $?
  running_pid=
  return "$1"
}

# Ends the running step, if any, and waits for it: `timeout` passes the
# signal on to the tester.
stop_running() {
  [[ -n $running_pid ]] || return 0
  kill -TERM "$running_pid" 2>/dev/null
  wait "$running_pid" 2>/dev/null
  running_pid=
}

# Calls HANDLER SIGNAL on INT, TERM and HUP.
on_signals() {
  local signal
  for signal in INT TERM HUP; do
    # shellcheck disable=SC2064  # the handler is fixed now
    trap "$1 $signal" "$signal"
  done
}

# Ends this script by SIGNAL, as the shell that started it expects of a
# program that a signal interrupted.
die_by() {
  trap - "$1"
  kill -s "$1" $$
}

# The tester's reason for ending: its first own line on standard error in
# file ERR (a driver may write notes before it, and a build log follows),
# else the first line there, else MESSAGE. Arguments: ERR MESSAGE
tester_reason() {
  local line
  line=$(grep -m 1 -E "$kTesterLine" "$1" 2>/dev/null) ||
    line=$(grep -m 1 -v '^[[:space:]]*$' "$1" 2>/dev/null)
  echo "${line:-$2}"
}

# Asks PROGRAM for its device list and block limit without testing: first
# with no input, which it refuses at its first prompt; with several devices
# again, answering DEVICE and 0 blocks, which it refuses too. A prompt counts
# only as the last, whole line of the dialogue. Files go into folder WORK.
# Sets device_answer (DEVICE, or empty where no device prompt came: the only
# device is tested), device_name and max_blocks; where the dialogue shows no
# block limit, returns 1 with probe_reason set. Arguments: PROGRAM DEVICE WORK
probe_dialogue() {
  local answers=/dev/null status last
  device_answer=
  while :; do
    run_limited "$kProbeSeconds" "$answers" "$3/probe.out" "$3/probe.err" "$1"
    status=$?
    if ((status == 124 || status == 137)); then
      probe_reason="the tester did not end its dialogue in $kProbeSeconds s"
      return 1
    fi
    last=$(tail -n 1 "$3/probe.out")
    [[ -z $device_answer && $last =~ $kDevicePrompt ]] || break
    device_answer=$2 answers=$3/probe.in
    printf '%s\n0\n' "$2" >"$answers"
  done
  if [[ ! $last =~ $kBlockPrompt ]]; then
    probe_reason=$(tester_reason "$3/probe.err" \
      "the tester showed no block limit (exit status $status)")
    return 1
  fi
  max_blocks=${BASH_REMATCH[1]}
  # The list lies between its header and the prompts.
  device_name=$(tail -n +2 "$3/probe.out" |
    head -n "-$((${device_answer:+1} + 1))" | list_entry "${device_answer:-0}")
}

# Prints entry NUMBER of the device list on standard input as one line, tabs
# made blanks: a name that holds line ends spans several lines of the list.
list_entry() {
  awk -v number="$1" '
    index($0, count ": ") == 1 {
      entry = count++
      names[entry] = substr($0, length(entry ": ") + 1)
      next
    }
    count > 0 { names[entry] = names[entry] " " $0 }
    END { gsub(/\t/, " ", names[number]); print names[number] }
  ' count=0
}

# Prints the status lines in the tester's output file OUT, one a line,
# without their escape sequences.
status_lines() {
  tr '\033' '\n' <"$1" | awk '/^\[0JWrite: / { print substr($0, 4) }'
}

# Prints what the status lines in the tester's output file OUT tell, as
# "LINES WRITE READ TOTAL": their number, the medians of their write and
# read bandwidth in GiB/s, leaving out the first line, which includes the
# start, unless it is the only one, and the last Total Error; "-" for each
# figure where there is no status line.
status_figures() {
  local figures count
  # "Write: W [GiB/s], Read: R [GiB/s], Total Error: T"
  figures=$(status_lines "$1" | awk '{ print $2, $5, $9 }')
  count=$(grep -c . <<<"$figures")
  if ((count == 0)); then
    echo "0 - - -"
    return
  fi
  ((count == 1)) || figures=$(tail -n +2 <<<"$figures")
  echo "$count" "$(cut -d ' ' -f 1 <<<"$figures" | median)" \
    "$(cut -d ' ' -f 2 <<<"$figures" | median)" \
    "$(tail -n 1 <<<"$figures" | cut -d ' ' -f 3)"
}

# Prints the median of the numbers on standard input, two decimals.
median() {
  sort -g | awk '{ v[NR] = $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%.2f\n", m }'
}

# Judges a run of the tester from its output files OUT and ERR, the STATUS
# it ended with (124: it lasted its whole time, LIMIT) and the SIGNAL that
# interrupted it, if one did. Sets lines, write_bw, read_bw and total (see
# status_figures); verdict: errors when total is above 0, else interrupted
# by a signal, else clean when it lasted its whole time and drew a status
# line, else failed; and reason: what ended it early, if anything.
# Arguments: OUT ERR STATUS LIMIT [SIGNAL]
judge_run() {
  read -r lines write_bw read_bw total < <(status_figures "$1")
  reason=
  if [[ -n ${5:-} ]]; then
    reason="interrupted by SIG$5"
  elif (($3 != 124)); then
    reason=$(tester_reason "$2" "the tester ended with status $3")
  elif [[ $total == - ]]; then
    reason="no pass finished in $4"
  fi
  if [[ $total != - && $total != 0 ]]; then
    verdict=errors
  elif [[ -n ${5:-} ]]; then
    verdict=interrupted
  elif [[ -z $reason ]]; then
    verdict=clean
  else
    verdict=failed
  fi
}

# The exit status that tells VERDICT.
verdict_status() {
  case $1 in
    clean) echo 0 ;;
    errors) echo 1 ;;
    *) echo 2 ;;
  esac
}
