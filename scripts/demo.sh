#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and the tool
# (nothing else), and runs the demo: one camera in each mode against
# simulated peers on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/compiler-cache.sh
scripts/install-deps.sh build
# A fresh folder is configured without the tests (their packages may be
# missing); a folder scripts/test.sh configured keeps its tests.
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build build --target korvane -j "$(nproc)"
exec build/tools/korvane/korvane demo "$@"
