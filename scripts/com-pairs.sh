#!/usr/bin/env bash
# Runs one program under wine with COM-port pairs of its own, made fresh for
# it: each pair is a new socat pseudo-terminal pair, so no byte that an
# earlier test left on a line can reach this one. scripts/test-windows.sh
# makes the tests run through here (their emulator).
#
#   com-pairs.sh LOADER PROGRAM ARGS...          LOADER PROGRAM ARGS, pairs in
#                                                KORVANE_COM_PAIRS
#   com-pairs.sh LOADER --with-pairs COMMAND...  COMMAND (not under wine), the same
#
# KORVANE_COM_PAIRS already in the environment (even empty) is left as it is.
# Needs WINEPREFIX and KORVANE_COM_PAIRS_DIR (a folder for the slots' locks
# and pseudo-terminal links).
set -uo pipefail
loader=$1; shift
direct=""
if [ "${1:-}" = --with-pairs ]; then direct=1; shift; fi
if [ -n "${KORVANE_COM_PAIRS+set}" ]; then
  if [ -n "$direct" ]; then exec "$@"; else exec "$loader" "$@"; fi
fi
dir=${KORVANE_COM_PAIRS_DIR:?set by scripts/test-windows.sh}
pairs_per_run=4 slots=16

# A slot: COM numbers 20 + 8 * slot onwards, held (flock) while this runs, so
# that tests running side by side never share a pair.
slot=""
for ((n = 0; n < slots; ++n)); do
  exec 9>"$dir/slot$n.lock"
  if flock -n 9; then slot=$n; break; fi
done
[ -n "$slot" ] || { echo "com-pairs: all $slots slots are taken" >&2; exit 1; }

ttys=$dir/slot$slot.$$
socats=()
cleanup() {
  [ ${#socats[@]} -eq 0 ] || kill "${socats[@]}" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$ttys"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
mkdir -p "$ttys"
list=""
for ((i = 0; i < pairs_per_run; ++i)); do
  peer=$((20 + 8 * slot + 2 * i)) camera=$((21 + 8 * slot + 2 * i))
  socat pty,raw,echo=0,link="$ttys/com$peer" pty,raw,echo=0,link="$ttys/com$camera" 2>/dev/null 9>&- &
  socats+=($!)
  ln -sfn "$ttys/com$peer" "$WINEPREFIX/dosdevices/com$peer"
  ln -sfn "$ttys/com$camera" "$WINEPREFIX/dosdevices/com$camera"
  list+="${list:+,}COM$peer:COM$camera"
done
# socat makes its links once both pseudo-terminals are open.
for ((i = 0; i < 500; ++i)); do
  ready=1
  for ((p = 0; p < pairs_per_run; ++p)); do
    [ -e "$ttys/com$((21 + 8 * slot + 2 * p))" ] || ready=""
  done
  [ -z "$ready" ] || break
  sleep 0.01
done
[ -n "$ready" ] || { echo "com-pairs: socat made no pseudo-terminal pair in 5 s" >&2; exit 1; }

export KORVANE_COM_PAIRS=$list
# The slot's lock stays here: a wineserver or service started by the program
# must not hold it after the run.
if [ -n "$direct" ]; then "$@" 9>&-; else "$loader" "$@" 9>&-; fi
rc=$?
exit $rc
