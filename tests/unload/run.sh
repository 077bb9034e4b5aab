#!/usr/bin/env bash
# Runs a host program over and over, each run bounded in time, and counts the
# runs that hung (killed at the bound) and those that failed otherwise.
#   run.sh <runs> <seconds per run> <command...>
# KORVANE_UNLOAD_RUNS, when set, caps the number of runs (a slow stage runs fewer).
set -u
runs=$1 limit=$2
[ -n "${KORVANE_UNLOAD_RUNS:-}" ] && [ "$KORVANE_UNLOAD_RUNS" -lt "$runs" ] && runs=$KORVANE_UNLOAD_RUNS
shift 2
# Each run in a network of its own where one can be made (root), so that the
# fixed UDP ports cannot meet another program's; the Windows stage has one.
isolate=()
if [ -z "${KORVANE_WIN_NETNS:-}" ] && unshare -n true 2>/dev/null; then
  isolate=(unshare -n sh -c 'ip link set lo up && exec "$@"' sh)
fi
hung=0 failed=0 start=$SECONDS
for ((i = 1; i <= runs; i++)); do
  # KORVANE_UNLOAD_BEFORE_EACH: a command run before each run (the Windows
  # stage starts each with a new wineserver).
  [ -z "${KORVANE_UNLOAD_BEFORE_EACH:-}" ] || sh -c "$KORVANE_UNLOAD_BEFORE_EACH" >/dev/null 2>&1 || true
  timeout -k 5 "$limit" "${isolate[@]}" "$@" >/tmp/unload_run.$$ 2>&1
  rc=$?
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    hung=$((hung + 1))
    echo "run $i: hung (killed after ${limit}s)"
  elif [ $rc -ne 0 ]; then
    failed=$((failed + 1))
    echo "run $i: exit $rc: $(tail -3 /tmp/unload_run.$$)"
  fi
done
rm -f /tmp/unload_run.$$
echo "$runs runs in $((SECONDS - start)) s: $hung hung, $failed failed"
[ $hung -eq 0 ] && [ $failed -eq 0 ]
