#!/usr/bin/env bash
# Stands in for vramcheck in the scripts' tests, for the cards that the
# simulated GPU cannot play: one device with a limit of 3 blocks, then as
# STAND_IN says:
#   hang           never ends its dialogue, like a hung driver
#   errors-lost    finds 99 errors, then loses the device
#   errors-refill  on 3 blocks finds 53 errors, then runs out of memory;
#                  on fewer blocks runs clean until it is ended
#   (unset)        runs clean until it is ended
# Each start appends its process number to the file STAND_IN_LOG, if set.
[[ -z ${STAND_IN_LOG:-} ]] || echo $$ >>"$STAND_IN_LOG"
[[ ${STAND_IN:-} != hang ]] || exec sleep 600
printf 'Device Number: Device Name\n0: Stand-in GPU\n'
echo 'How many memory blocks will you test? (max: 3 blocks)'
if ! read -r blocks || [[ ! $blocks =~ ^[1-3]$ ]]; then
  echo 'Invalid memory blocks number.' >&2
  exit 1
fi

status_line() {
  printf '\e[0;0H\e[0JWrite: 100.00 [GiB/s], Read: 90.00 [GiB/s], '
  printf 'Total Error: %s' "$1"
}

printf '\e[2J\e[0;0H'
if [[ ${STAND_IN:-} == errors-lost ]]; then
  status_line 99
  echo
  echo 'Error: clEnqueueNDRangeKernel failed with CL_INVALID_COMMAND_QUEUE (-36).' >&2
  exit 1
elif [[ ${STAND_IN:-} == errors-refill ]] && ((blocks == 3)); then
  status_line 53
  echo
  echo 'Error: clEnqueueNDRangeKernel failed with CL_OUT_OF_RESOURCES (-5):' \
    'the device could not provide the resources; try fewer blocks.' >&2
  exit 1
fi
while :; do
  status_line 0
  sleep 1
done
