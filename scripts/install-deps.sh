#!/usr/bin/env bash
# Installs the Debian packages Korvane needs, only those that are missing.
# Run as root (or with sudo available).
#   scripts/install-deps.sh build   the library and the tool (scripts/demo.sh)
#   scripts/install-deps.sh [test]  that, and everything the tests need
set -euo pipefail

build_packages=(
  build-essential cmake pkg-config ccache
  libboost-dev libboost-system-dev
  libcurl4-openssl-dev libpugixml-dev libssl-dev
  nlohmann-json3-dev
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
)

case "${1:-test}" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Missing packages and not root: ${missing[*]}" >&2; exit 1; }
  SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
