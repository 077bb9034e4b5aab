#!/usr/bin/env bash
# Builds and runs the tests under sanitizers; any report fails the run.
#   scripts/sanitize.sh asan   AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/sanitize.sh tsan   ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
case "${1:-}" in
  asan)
    scripts/build.sh build-asan -DKORVANE_SANITIZE=address,undefined -DKORVANE_BUILD_TOOLS=OFF
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    dir=build-asan ;;
  tsan)
    scripts/build.sh build-tsan -DKORVANE_SANITIZE=thread -DKORVANE_BUILD_TOOLS=OFF
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    dir=build-tsan ;;
  *) echo "usage: $0 asan|tsan" >&2; exit 2 ;;
esac
cd "$dir"
ctest --output-on-failure -j "$(nproc)" --timeout 600
