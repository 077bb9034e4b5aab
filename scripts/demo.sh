#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demo: one
# camera in each mode against simulated peers on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
exec build/tools/korvane/korvane demo "$@"
