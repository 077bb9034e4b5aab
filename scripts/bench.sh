#!/usr/bin/env bash
# Builds with optimisation and runs the benchmark (about a minute): every
# figure beside its raw baseline, with ratios and targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_BENCH=ON -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_TOOLS=OFF
exec build-bench/bench/korvane_bench "$@"
