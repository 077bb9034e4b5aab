#!/usr/bin/env bash
# Builds and runs the tests under sanitizers; any report fails the run.
#   scripts/sanitize.sh asan   AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/sanitize.sh tsan   ThreadSanitizer
#   scripts/sanitize.sh asan|tsan REGEX   only the tests whose names match
#                              (e.g. Panel: the panel's tests); with
#                              SANITIZE_TARGETS="korvane panel_tests" only those are built
# The korvane tool and its panel are built sanitized too: their tests drive
# cameras through them and must be as clean as the library's.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/compiler-cache.sh
scripts/install-deps.sh
filter=${2:-}
configure() {
  if [[ -n ${SANITIZE_TARGETS:-} ]]; then
    cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${@:2}" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$1" -j "$(nproc)" --target $SANITIZE_TARGETS
  else
    scripts/build.sh "$@"
  fi
}
case "${1:-}" in
  asan)
    configure build-asan -DKORVANE_SANITIZE=address,undefined -DKORVANE_BUILD_TOOLS=ON
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    dir=build-asan ;;
  tsan)
    configure build-tsan -DKORVANE_SANITIZE=thread -DKORVANE_BUILD_TOOLS=ON
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    dir=build-tsan ;;
  *) echo "usage: $0 asan|tsan" >&2; exit 2 ;;
esac
cd "$dir"
# The exit and unload loops: 50 runs each under a sanitizer (200 in scripts/test.sh).
export KORVANE_UNLOAD_RUNS=${KORVANE_UNLOAD_RUNS:-50}
ctest --output-on-failure -j "$(nproc)" --timeout 600 ${filter:+-R "$filter"}
