#!/usr/bin/env bash
# Installs the Debian packages Korvane needs, only those that are missing.
# Run as root (or with sudo available).
#   scripts/install-deps.sh build   the library and the tool (scripts/demo.sh)
#   scripts/install-deps.sh [test]  that, and everything the tests need
#   scripts/install-deps.sh only PACKAGE...   those given (the other scripts'
#                                   own needs: packaging, fuzzing)
set -euo pipefail

build_packages=(
  build-essential cmake pkg-config ccache
  libboost-dev libboost-system-dev
  libcurl4-openssl-dev libpugixml-dev libssl-dev
  nlohmann-json3-dev libqrencode-dev
)
test_packages=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  python3-pytest python3-pip mypy
  # the panel's browser tests: Debian's Python with selenium
  chromium chromium-driver python3-selenium
  # the C++ wrapper under clang, the C# binding under mono, the .deb's test
  clang mono-mcs mono-runtime dpkg-dev file
  # the docs' examples: the panel's API, a camera certificate's fingerprint
  curl openssl
  # reading back the panel's QR code
  zbar-tools
  # a third-party ONVIF client (npm onvif) against the simulated camera
  nodejs
)

case "${1:-test}" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  only) shift; packages=("$@"); set -- only ;;
  *) echo "usage: $0 [build|test] | only PACKAGE..." >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Debian ships npm apart from nodejs; other node builds bring their own.
[ "${1:-test}" = test ] && ! command -v npm >/dev/null && missing+=(npm)

if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Missing packages and not root: ${missing[*]}" >&2; exit 1; }
    SUDO=sudo
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The npm onvif client for tests/npm, at the versions its lock file pins, in a
# cache outside the tree (tests/npm/run.sh looks there); only when missing or
# when the lock file changed.
if [ "${1:-test}" = test ]; then
  npm_source=$(cd "$(dirname "$0")/../tests/npm" && pwd)
  npm_cache=${KORVANE_NPM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvane/npm}
  if [ ! -f "$npm_cache/node_modules/onvif/package.json" ] ||
     ! cmp -s "$npm_source/package-lock.json" "$npm_cache/package-lock.json"; then
    echo "Installing the npm onvif client into $npm_cache"
    mkdir -p "$npm_cache"
    cp "$npm_source/package.json" "$npm_source/package-lock.json" "$npm_cache/"
    (cd "$npm_cache" && npm ci --no-audit --no-fund)
  fi
fi
