# Sourced by the release checks. RunsToFirstStatusLine PROGRAM VENDORS runs
# PROGRAM on one simulated GPU (the driver registered in the folder VENDORS)
# with one block until its first status line is complete, and checks the
# dialogue, the cleared screen, a clean status line and an empty standard
# error. Prints what it saw when the check fails.
RunsToFirstStatusLine() {
  local program=$1 vendors=$2 out
  out=$(mktemp -d)
  : >"$out/stdout"
  OCL_ICD_VENDORS=$vendors "$program" <<<"1" \
    >"$out/stdout" 2>"$out/stderr" &
  local pid=$! tries
  for ((tries = 0; tries < 600; tries++)); do
    grep -q 'Total Error: [0-9]' "$out/stdout" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  local stdout stderr dialogue status_line
  stdout=$(<"$out/stdout")
  stderr=$(<"$out/stderr")
  rm -r "$out"
  dialogue=$'Device Number: Device Name\n0: Simulated GPU\n'
  dialogue+=$'How many memory blocks will you test? (max: 8 blocks)\n\e[2J\e[0;0H'
  status_line=$'^\e\\[0;0H\e\\[0JWrite: [0-9]+\\.[0-9]{2} \\[GiB/s\\], Read: [0-9]+\\.[0-9]{2} \\[GiB/s\\], Total Error: 0$'
  if [[ ${stdout:0:${#dialogue}} != "$dialogue" || -n $stderr ||
        ! ${stdout:${#dialogue}} =~ $status_line ]]; then
    printf 'no clean first status line within 60 s\nstandard output:\n%q\n' \
      "$stdout"
    printf 'standard error:\n%s\n' "$stderr"
    return 1
  fi
}
