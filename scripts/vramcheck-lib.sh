# shellcheck shell=bash
# What gpu-check, the Slurm job array and its collector share: running
# testers so that an interrupt reaches them and their output is watched,
# learning the devices from the dialogue, the judgement of a run, and the
# result rows and their table. The verdicts and the exit statuses that tell
# them are described in doc/gpu-check.md, "Verdicts".

readonly kProbeSeconds=30  # the dialogue's time limit
readonly kReportSeconds=5  # the tester redraws its status line at most this often
readonly kBlockPrompt='^How many memory blocks will you test\? \(max: ([0-9]+) blocks\)$'
readonly kDevicePrompt='^Choose Device Number\.\(0\.\.([0-9]+)\)$'
readonly kTesterLine='^(Error: |Device not found\.$|Invalid (device|memory blocks) number\.$|Failure )'
readonly kFigure='[0-9]+\.[0-9]+|inf|nan'
readonly kStatusLine="^Write: ($kFigure) \[GiB/s\], Read: ($kFigure) \[GiB/s\], Total Error: ([0-9]+)\$"
readonly kVerdicts='clean|errors|failed|interrupted'

running_pid=  # the step running now, ended by stop_running
tester_pid=() tester_start=() tester_fd=() tester_status=() tester_ran=()
tester_last=() tester_longest=()

# Runs COMMAND... with standard input from file IN and its output into files
# OUT and ERR (which may be OUT), ending it after LIMIT seconds. The step runs
# in the background while the script waits, so that a signal runs the
# script's trap at once. Returns the command's status: 124, or 137 where it
# had to be killed, at the limit. Sets step_seconds: the seconds it took.
# Arguments: LIMIT IN OUT ERR COMMAND...
run_limited() {
  # No local variables: a trap runs in this function's scope while it waits.
  if [[ $4 == "$3" ]]; then
    timeout -k 10 "$1" "${@:5}" <"$2" >"$3" 2>&1 &
  else
    timeout -k 10 "$1" "${@:5}" <"$2" >"$3" 2>"$4" &
  fi
  running_pid=$! step_seconds=$SECONDS
  # Waiting with standard error closed keeps bash from printing "Killed"
  # for a command that a signal ended.
  wait "$running_pid" 2>/dev/null
  set -- $?
  running_pid= step_seconds=$((SECONDS - step_seconds))
  return "$1"
}

# Starts COMMAND... in the background as tester SLOT, with standard input
# from file IN and its output into files OUT and ERR, to be ended after LIMIT
# seconds. watch_testers waits for it. Arguments: SLOT LIMIT IN OUT ERR
# COMMAND...
start_tester() {
  : >"$4" || return
  timeout -k 10 "$2" "${@:6}" <"$3" >"$4" 2>"$5" &
  tester_pid[$1]=$! tester_start[$1]=$SECONDS
  tester_last[$1]=0 tester_longest[$1]=0
  local fd
  exec {fd}<"$4"
  tester_fd[$1]=$fd
}

# Waits until every tester started has ended. Once a second it reads what
# each one wrote since, noting the second of its run at which its output
# last grew (tester_last) and the longest time it went without
# (tester_longest);
# when one has ended, its status (tester_status) and the seconds it ran
# (tester_ran). Only builtins run between the waits, so that bash says
# nothing when a signal ends a tester.
watch_testers() {
  local watched now chunk fd
  while ((${#tester_pid[@]} > 0)); do
    sleep 1 &
    wait $! 2>/dev/null
    for watched in "${!tester_pid[@]}"; do
      now=$((SECONDS - tester_start[watched])) chunk=
      IFS= read -r -d '' -u "${tester_fd[watched]}" chunk
      if [[ -n $chunk ]]; then
        ((now - tester_last[watched] <= tester_longest[watched])) ||
          tester_longest[watched]=$((now - tester_last[watched]))
        tester_last[watched]=$now
      fi
      kill -0 "${tester_pid[watched]}" 2>/dev/null && continue
      wait "${tester_pid[watched]}" 2>/dev/null
      tester_status[watched]=$? tester_ran[watched]=$now
      fd=${tester_fd[watched]}
      exec {fd}<&-
      unset 'tester_pid[watched]'
    done
  done
}

# Ends the running step and the testers, if any, and waits for them: `timeout`
# passes the signal on to the tester.
stop_running() {
  local pid
  for pid in $running_pid "${tester_pid[@]}"; do
    kill -TERM "$pid" 2>/dev/null
  done
  watch_testers
  [[ -z $running_pid ]] || wait "$running_pid" 2>/dev/null
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

# True where a command that ended with STATUS after SECONDS ran until
# `timeout` ended it at LIMIT: 124, or 137 where it had to be killed (a
# SIGKILL from elsewhere gives 137 too, but earlier).
# Arguments: STATUS SECONDS LIMIT
lasted() {
  (($1 == 124 || $1 == 137)) && (($2 >= $3))
}

# What ended a command with STATUS: "status N", or the signal.
ended_with() {
  if (($1 > 128)) && kill -l "$(($1 - 128))" >/dev/null 2>&1; then
    echo "SIG$(kill -l "$(($1 - 128))")"
  else
    echo "status $1"
  fi
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

# Runs PROGRAM's dialogue with the answers in file IN, its output into
# WORK/probe.out and .err. Sets last: the dialogue's last line, a prompt only
# when it is the last, whole line. Returns 1 with probe_reason set where the
# dialogue did not end by itself. Arguments: PROGRAM IN WORK
run_dialogue() {
  run_limited "$kProbeSeconds" "$2" "$3/probe.out" "$3/probe.err" "$1"
  set -- "$?" "$@"
  if lasted "$1" "$step_seconds" "$kProbeSeconds"; then
    probe_reason="the tester did not end its dialogue in $kProbeSeconds s"
    return 1
  elif (($1 > 128)); then
    probe_reason="the tester was ended by $(ended_with "$1") in its dialogue"
    return 1
  fi
  last=$(tail -n 1 "$4/probe.out")
}

# Asks PROGRAM for its device list without testing: with no input it stops at
# its first prompt. Sets device_count, device_names (one a line, by number)
# and, where a single device skips the device prompt, max_blocks. Returns 1
# with probe_reason set where it shows no prompt. Files go into folder WORK.
# Arguments: PROGRAM WORK
probe_devices() {
  run_dialogue "$1" /dev/null "$2" || return 1
  if [[ $last =~ $kDevicePrompt ]]; then
    device_count=$((BASH_REMATCH[1] + 1)) max_blocks=
  elif [[ $last =~ $kBlockPrompt ]]; then
    device_count=1 max_blocks=${BASH_REMATCH[1]}
  else
    probe_reason=$(tester_reason "$2/probe.err" \
      "the tester showed no prompt")
    return 1
  fi
  # The list lies between its header and the prompt.
  device_names=$(tail -n +2 "$2/probe.out" | head -n -1 |
    list_names "$device_count")
}

# Learns device DEVICE's block limit (max_blocks) from PROGRAM's dialogue,
# answering DEVICE and 0 blocks, which it refuses; probe_devices first.
# Returns 1 with probe_reason set where no block limit shows.
# Arguments: PROGRAM DEVICE WORK
probe_blocks() {
  ((device_count > 1)) || return 0
  max_blocks=
  printf '%s\n0\n' "$2" >"$3/probe.in"
  run_dialogue "$1" "$3/probe.in" "$3" || return 1
  if [[ ! $last =~ $kBlockPrompt ]]; then
    probe_reason=$(tester_reason "$3/probe.err" \
      "the tester showed no block limit for device $2")
    return 1
  fi
  max_blocks=${BASH_REMATCH[1]}
}

# Writes into file FILE the answers that test BLOCKS blocks of device
# DEVICE, whose number the dialogue asks for only where probe_devices found
# several. Arguments: FILE DEVICE BLOCKS
write_answers() {
  if ((device_count > 1)); then
    printf '%s\n%s\n' "$2" "$3"
  else
    echo "$3"
  fi >"$1"
}

# Prints SECONDS as minutes with one decimal.
minutes() {
  awk -v s="$1" 'BEGIN { printf "%.1f", s / 60 }'
}

# Prints the names of the COUNT devices of the list on standard input (its
# lines without header and prompts), one a line, tabs made blanks. A name
# that holds line ends spans several lines of the list, so each entry starts
# at the last line before the next entry's that starts with its number: a
# line in a name that looks like an entry cannot shift the names after it.
list_names() {
  awk -v count="$1" '
    { line[NR] = $0 }
    END {
      end = NR
      for (entry = count - 1; entry >= 0; entry--) {
        start = entry ? end : 1
        while (start > 1 && index(line[start], entry ": ") != 1) start--
        name = substr(line[start], length(entry ": ") + 1)
        for (i = start + 1; i <= end; i++) name = name " " line[i]
        gsub(/\t/, " ", name)
        names[entry] = name
        end = start - 1
      }
      for (entry = 0; entry < count; entry++) print names[entry]
    }'
}

# Prints the whole status lines in the tester's output file OUT, one a line,
# without their escape sequences.
status_lines() {
  tr '\033' '\n' <"$1" | awk '/^\[0JWrite: / { print substr($0, 4) }' |
    grep -E "$kStatusLine"
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

# Judges tester SLOT's run, whose output lies in files OUT and ERR and which
# had LIMIT seconds (LIMIT_TEXT: how the reason says it), or which SIGNAL
# interrupted. Sets lines, write_bw, read_bw and total (see status_figures);
# reason: why the memory was not tested for the whole time, if it was not;
# and verdict: errors when total is above 0, else interrupted by a signal,
# else clean where there is no reason, else failed.
#
# A run that lasted its whole time is clean only if its status lines kept
# coming to the end. The tester redraws after a pass, at most every
# kReportSeconds, so the longest time its output went without growing covers
# its longest pass (and its start); a run whose output is, at its end, older
# than that plus three report intervals has stopped reporting, as a hung
# kernel or a card that fell off the bus does.
# Arguments: SLOT OUT ERR LIMIT LIMIT_TEXT [SIGNAL]
judge_run() {
  local status=${tester_status[$1]} ran=${tester_ran[$1]}
  local last=${tester_last[$1]} longest=${tester_longest[$1]}
  read -r lines write_bw read_bw total < <(status_figures "$2")
  reason=
  if [[ -n ${6:-} ]]; then
    reason="interrupted by SIG$6"
  elif ! lasted "$status" "$ran" "$4"; then
    reason=$(tester_reason "$3" "the tester ended with $(ended_with "$status")")
  elif ((lines == 0)); then
    reason="no pass finished in $5"
  elif ((ran - last > longest + 3 * kReportSeconds)); then
    reason="the tester stopped reporting after $last s"
  fi
  if [[ $total != - && $total != 0 ]]; then
    verdict=errors
  elif [[ -n ${6:-} ]]; then
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

# The worse of verdicts A and B: errors, interrupted, failed, clean.
worse_verdict() {
  local verdict
  for verdict in errors interrupted failed clean; do
    [[ $1 != "$verdict" && $2 != "$verdict" ]] || { echo "$verdict"; return; }
  done
}

# The GPU that a scheduler gave this process, as the first of these
# variables that is set tells it, else "-".
scheduler_gpu() {
  local variable
  for variable in CUDA_VISIBLE_DEVICES ROCR_VISIBLE_DEVICES \
      GPU_DEVICE_ORDINAL SLURM_JOB_GPUS; do
    [[ -z ${!variable:-} ]] || { echo "${!variable}"; return; }
  done
  echo -
}

# Prints one result row: its fields, tab-separated, with tabs and line ends
# in them made blanks. Arguments: JOB TASK TASKS HOST DEVICE GPU NAME BLOCKS
# MINUTES WRITE READ TOTAL VERDICT MESSAGE (BLOCKS is "tested/limit", TASKS
# the job's number of tasks or "-").
result_row() {
  local field fields=()
  for field in "$@"; do
    field=${field//$'\t'/ }
    fields+=("${field//$'\n'/ }")
  done
  (IFS=$'\t'; echo "${fields[*]}")
}

# Makes a result file for a row in folder DIR, named after the job, task and
# host and never the same as another: DIR/JOB_TASK_HOST_XXXXXX.part, until
# write_result renames it .tsv. Prints its name.
# Arguments: DIR JOB TASK HOST
new_result() {
  mkdir -p -- "$1" 2>/dev/null &&
    mktemp --suffix=.part -- "$1/$2_$3_$4_XXXXXX" 2>/dev/null
}

# Writes ROW into the result file PART and, unless it is to stay unfinished,
# renames it .tsv. Arguments: PART ROW [unfinished]
write_result() {
  { echo "$2" >"$1" && { [[ -n ${3:-} ]] || mv -- "$1" "${1%.part}.tsv"; }; } \
    2>/dev/null
}

# Makes a table of the result rows on standard input, columns aligned, with
# a Speed column: slow where the write or read bandwidth is below PERCENT %
# of the median of the GPUs of the same name and memory in the same job,
# where at least three of them have figures; rows without figures, or with
# "inf" or "nan", take no part. Sets table (with a line on Speed under it),
# worst_verdict (of every row, "clean" for none) and slow (yes or no).
# Arguments: PERCENT
result_table() {
  local rows verdict speed
  rows=$(LC_ALL=C sort -t $'\t' -k 1,1 -k 2,2n -k 4,4 -k 5,5n | awk -F '\t' \
    -v percent="$1" '
    function numeric(figure) { return figure ~ /^[0-9]+(\.[0-9]+)?$/ }
    function measured(row) {
      return numeric(cell[row, 10]) && numeric(cell[row, 11])
    }
    # The median of column COLUMN over the measured rows of group GROUP.
    function median(group, column,    i, j, n, v, swap) {
      for (i = 1; i <= rows; i++)
        if (key[i] == group && measured(i)) v[++n] = cell[i, column] + 0
      for (i = 2; i <= n; i++)
        for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
          swap = v[j]; v[j] = v[j - 1]; v[j - 1] = swap
        }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    NF > 0 {
      rows++
      for (i = 1; i <= NF; i++) cell[rows, i] = $i
      # Siblings: the same job, name and block limit.
      key[rows] = $1 SUBSEP $7 SUBSEP substr($8, index($8, "/") + 1)
      if (measured(rows)) siblings[key[rows]]++
    }
    END {
      OFS = "\037"
      print "Job", "Task", "Host", "Device", "GPU", "Name", "Blocks",
        "Minutes", "Write GiB/s", "Read GiB/s", "Total Error", "Verdict",
        "Speed", "Message"
      for (row = 1; row <= rows; row++) {
        group = key[row]
        speed = "-"
        if (measured(row) && siblings[group] >= 3) {
          if (!((group, 10) in low))
            for (i = 10; i <= 11; i++)
              low[group, i] = median(group, i) * percent / 100
          speed = cell[row, 10] + 0 < low[group, 10] ||
                  cell[row, 11] + 0 < low[group, 11] ? "slow" : "ok"
        }
        print cell[row, 1], cell[row, 2], cell[row, 4], cell[row, 5],
          cell[row, 6], cell[row, 7], cell[row, 8], cell[row, 9],
          cell[row, 10], cell[row, 11], cell[row, 12], cell[row, 13], speed,
          cell[row, 14]
      }
    }')
  worst_verdict=clean slow=no
  while IFS=$'\037' read -r _ _ _ _ _ _ _ _ _ _ _ verdict speed _; do
    worst_verdict=$(worse_verdict "$worst_verdict" "$verdict")
    [[ $speed != slow ]] || slow=yes
  done < <(tail -n +2 <<<"$rows")
  table=$(align_columns <<<"$rows")
  table+=$'\n\n'"Speed: slow where the write or read bandwidth is below $1 % of"
  table+=$' the median of the\nGPUs of the same name and memory in the same'
  table+=' job, with 3 or more of them.'
}

# Prints the lines on standard input, cells separated by the character
# 0x1f, as columns padded with blanks to the widest cell, counted in
# characters however many bytes a name's characters take.
align_columns() (
  # ${#cell} counts characters where the locale's are UTF-8.
  [[ $(locale charmap 2>/dev/null) == UTF-8 ]] ||
    { LC_ALL=C.UTF-8; } 2>/dev/null
  lines=() width=()
  while IFS= read -r line; do
    lines+=("$line")
    IFS=$'\037' read -ra cells <<<"$line"
    for i in "${!cells[@]}"; do
      cell=${cells[i]}
      ((${#cell} <= ${width[i]:-0})) || width[i]=${#cell}
    done
  done
  for line in "${lines[@]}"; do
    IFS=$'\037' read -ra cells <<<"$line"
    text=
    for i in "${!cells[@]}"; do
      cell=${cells[i]}
      text+=$cell
      ((i == ${#cells[@]} - 1)) ||
        printf -v text '%s%*s' "$text" $((width[i] - ${#cell} + 2)) ''
    done
    echo "${text%"${text##*[! ]}"}"
  done
)
