#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/build.sh build -DBUILD_TESTING=ON
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 300
