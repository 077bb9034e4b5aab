#!/usr/bin/env bash
# Installs the .deb with dpkg -i, as a user would; builds the consumer hosts
# against it with find_package and pkg-config; runs the installed tool and
# imports the Python package with Debian's python3; then purges it and checks
# that none of its files is left. It changes the system: root only (CI).
#   deb_check.sh DEB CONSUMER VERSION
set -euo pipefail
deb=$(realpath "$1") consumer=$2 version=$3
if [ "$(id -u)" -ne 0 ]; then
  echo "deb_check: skipped: installing a package needs root (CI runs this as root)"
  exit 0
fi
if dpkg-query -W -f='${Status}' korvane 2>/dev/null | grep -q installed; then
  echo "deb_check: a korvane package is installed on this machine already; not touching it" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; dpkg --purge korvane >/dev/null 2>&1 || true' EXIT

depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libcurl4*libpugixml*) ;; *)
  echo "Depends lacks the library's dependencies: $depends"; exit 1 ;; esac
dpkg -i "$deb" >/dev/null
files=$(dpkg -L korvane)

tool=$(korvane --version)
[ "$tool" = "korvane $version (library $version)" ] || { echo "korvane --version: $tool"; exit 1; }
python=$(cd / && /usr/bin/python3 -c 'import korvane; print(korvane.__version__, korvane.library_version())')
[ "$python" = "$version $version" ] || { echo "python3 -c 'import korvane': $python"; exit 1; }
cmake -S "$consumer" -B "$scratch/cmake" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
"$scratch/cmake/consumer" && "$scratch/cmake/c_consumer"
includedir=$(pkg-config --variable=includedir korvane)
[ -f "$includedir/korvane/korvane_c.h" ] || { echo "pkg-config's includedir has no korvane_c.h: $includedir"; exit 1; }
c++ "$consumer/main.cpp" $(pkg-config --cflags --libs korvane) -o "$scratch/pkgconfig-consumer"
"$scratch/pkgconfig-consumer"

dpkg --purge korvane >/dev/null
left=()
while IFS= read -r path; do
  [ -e "$path" ] || continue
  # A folder still there must belong to another package.
  if [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
  left+=("$path")
done <<<"$files"
[ ${#left[@]} -eq 0 ] || { echo "left after purge: ${left[*]}"; exit 1; }
echo "deb_check: $(basename "$deb") installs (Depends: $depends), links hosts with find_package and pkg-config, runs korvane $version and imports in python3, and purges clean"
