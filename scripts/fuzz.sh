#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz and runs them.
#   scripts/fuzz.sh                    every target, 60 seconds each
#   scripts/fuzz.sh TARGET [SECONDS]   one target (serial_frames, onvif_client, ...)
#   scripts/fuzz.sh --smoke            every target for FUZZ_SMOKE_SECONDS (20) from
#                                      its seeds, fixed seed; any finding fails
#   scripts/fuzz.sh --open             replays fuzz/open/: the inputs of faults
#                                      not fixed yet; says which still fail
#   scripts/fuzz.sh --list             the targets
# Findings land in build-fuzz/findings/TARGET/, new inputs in
# build-fuzz/corpus/TARGET/; the seeds in fuzz/corpus/ are only read.
# FUZZ_BUILD names another build folder, FUZZ_JOBS the build's jobs (2).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/compiler-cache.sh
build=${FUZZ_BUILD:-build-fuzz}
targets=(serial_frames tracking_reports relay_datagrams visca_ip_replies wssecurity onvif_answers onvif_client probe_matches command_line camera_file panel)

install_missing() {
  scripts/install-deps.sh
  scripts/install-deps.sh only clang libclang-rt-14-dev
}

build() {
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVANE_BUILD_FUZZ=ON -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$build" --target fuzzers -j "${FUZZ_JOBS:-2}"
}

# run TARGET SECONDS [extra libFuzzer flags...]
run() {
  local target=$1 seconds=$2
  shift 2
  local work=${FUZZ_WORK:-$build/corpus}/$target findings=$build/findings/$target
  mkdir -p "$work" "$findings"
  local flags=(-max_total_time="$seconds" -artifact_prefix="$findings/" -print_final_stats=1)
  [[ $target == onvif_* ]] && flags+=(-dict=fuzz/onvif.dict)
  echo "== $target: $seconds s"
  # New inputs go to the first folder; the seeds are only read.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=fuzz/lsan.supp \
    "$build/fuzz/fuzz_$target" "${flags[@]}" "$@" "$work" "fuzz/corpus/$target"
}

case "${1:-}" in
  --list) printf '%s\n' "${targets[@]}"; exit 0 ;;
  -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
esac

install_missing
build
case "${1:-}" in
  --smoke)
    start=$SECONDS
    for target in "${targets[@]}"; do
      # A fresh folder each time, apart from what long runs gathered.
      rm -rf "$build/smoke-corpus/$target"
      FUZZ_WORK=$build/smoke-corpus run "$target" "${FUZZ_SMOKE_SECONDS:-20}" -seed=1 2>"$build/$target.smoke.log" ||
        { tail -n 40 "$build/$target.smoke.log"; echo "fuzz smoke: $target found a fault" >&2; exit 1; }
      grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' "$build/$target.smoke.log" | tail -n 2 || true
    done
    echo "fuzz smoke: every target clean ($((SECONDS - start)) s of fuzzing)"
    ;;
  --open)
    open=0
    for input in fuzz/open/*/*; do
      [[ -f $input ]] || continue
      target=$(basename "$(dirname "$input")")
      if "$build/fuzz/fuzz_$target" "$input" >"$build/open.log" 2>&1; then
        echo "fixed: $input (move it to fuzz/corpus/$target/)"
      else
        echo "still open: $input"; open=$((open + 1))
      fi
    done
    echo "$open open"
    ;;
  "")
    for target in "${targets[@]}"; do run "$target" 60; done ;;
  *)
    [[ " ${targets[*]} " == *" $1 "* ]] || { echo "unknown target $1 (scripts/fuzz.sh --list)" >&2; exit 2; }
    run "$1" "${2:-60}" ;;
esac
