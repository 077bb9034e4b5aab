#!/usr/bin/env bash
# Configures the project with BUILD_TESTING=OFF, as packagers do, and checks
# that no test is registered and the test-only targets are not generated.
set -euo pipefail
source=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake -S "$source" -B "$scratch" -DBUILD_TESTING=OFF -DKORVANE_BUILD_TOOLS=OFF >/dev/null
listed=$(cd "$scratch" && ctest -N | sed -n 's/^Total Tests: //p')
if [ "${listed:-0}" != 0 ]; then
  echo "BUILD_TESTING=OFF still registers $listed tests" >&2
  exit 1
fi
targets=$(cmake --build "$scratch" --target help)
if grep -qE 'api_tests|onvif_tests|unit_tests' <<<"$targets"; then
  echo "BUILD_TESTING=OFF still generates test executables" >&2
  exit 1
fi
echo "BUILD_TESTING=OFF configures no tests"
