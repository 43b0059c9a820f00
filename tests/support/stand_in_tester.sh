#!/usr/bin/env bash
# Stands in for vramcheck in the scripts' tests, for the cards that the
# simulated GPU cannot play: one device with a limit of 3 blocks, then as
# STAND_IN says:
#   hang          never ends its dialogue, like a hung driver
#   killed        is killed (SIGKILL) in its dialogue
#   freeze        draws one clean status line, then stops (SIGSTOP), like a
#                 hung kernel
#   load-failure  runs clean for 3 s, then runs out of resources ("try fewer
#                 blocks"), like a card failing under load
#   errors        finds 7 errors, and runs until it is ended
#   errors-lost   finds 99 errors, then loses the device while it draws the
#                 next status line, which stays cut off
#   (unset)       runs clean until it is ended
# Each start appends its process number to the file STAND_IN_LOG, if set.
[[ -z ${STAND_IN_LOG:-} ]] || echo $$ >>"$STAND_IN_LOG"
case ${STAND_IN:-} in
  hang) exec sleep 600 ;;
  killed) kill -KILL $$ ;;
esac
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
case ${STAND_IN:-} in
  freeze)
    status_line 0
    kill -STOP $$
    ;;
  load-failure)
    for _ in 1 2 3; do
      status_line 0
      sleep 1
    done
    echo
    echo 'Error: clEnqueueNDRangeKernel failed with CL_OUT_OF_RESOURCES (-5):' \
      'the device could not provide the resources; try fewer blocks.' >&2
    exit 1
    ;;
  errors-lost)
    status_line 99
    printf '\e[0;0H\e[0JWrite: 100.00 [GiB/s], Re'
    echo
    echo 'Error: clEnqueueNDRangeKernel failed with CL_INVALID_COMMAND_QUEUE (-36).' >&2
    exit 1
    ;;
esac
while :; do
  status_line "$([[ ${STAND_IN:-} == errors ]] && echo 7 || echo 0)"
  sleep 1
done
