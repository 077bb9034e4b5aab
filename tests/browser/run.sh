#!/usr/bin/env bash
# Runs the panel's browser tests with Debian's Python, which has selenium and
# pytest (the python3 first on PATH may not). Skips (exit 77) only where
# Chromium and its driver cannot be had; pytest finding no tests is a failure.
# Browser, panel and cameras all run in a network namespace of their own where
# one can be made (the search for cameras multicasts); its one case skips where not.
#   run.sh KORVANE_TOOL SCREENSHOT_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export KORVANE_TOOL="$1" PANEL_SCREENSHOT_DIR="$2"
mkdir -p "$PANEL_SCREENSHOT_DIR"
for need in /usr/bin/chromium /usr/bin/chromedriver /usr/bin/python3; do
  if [ ! -x "$need" ]; then
    echo "SKIP: $need is missing (scripts/install-deps.sh installs chromium, chromium-driver, python3-selenium, python3-pytest)"
    exit 77
  fi
done
if ! /usr/bin/python3 -c 'import selenium, pytest' 2>/dev/null; then
  echo "SKIP: Debian's python3-selenium or python3-pytest is missing (scripts/install-deps.sh installs them)"
  exit 77
fi
cd "$here"
sh ../in_netns.sh /usr/bin/python3 -m pytest -v -s -p no:cacheprovider test_panel_page.py
status=$?
if [ "$status" -eq 5 ]; then
  echo "FAIL: pytest collected no tests"
  exit 1
fi
exit "$status"
