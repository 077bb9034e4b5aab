#!/usr/bin/env bash
# Installs the four .deb packages with dpkg -i, as a user would; uses each:
# the tool runs and has its man page and completion, C and C++ hosts link by
# find_package and pkg-config, Debian's python3 imports the module, the
# panel's service is known but disabled; then purges them and checks that
# none of their files is left. It changes the system: root only (CI).
#   deb_check.sh DIST CONSUMER VERSION
set -euo pipefail
dist=$(realpath "$1") consumer=$2 version=$3
packages=(libkorvanu0 libkorvane-dev korvane python3-korvane)
if [ "$(id -u)" -ne 0 ]; then
  echo "deb_check: skipped: installing a package needs root (CI runs this as root)"
  exit 0
fi
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
    echo "deb_check: $p is installed on this machine already; not touching it" >&2
    exit 1
  fi
done
debs=()
for p in "${packages[@]}"; do
  deb=$(ls "$dist/${p}_${version}"-*_*.deb 2>/dev/null | head -n1)
  [ -n "$deb" ] || { echo "no $p $version package in $dist"; exit 1; }
  debs+=("$deb")
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true' EXIT
fail() { echo "deb_check: $*"; exit 1; }

depends=$(dpkg-deb -f "${debs[0]}" Depends)
case "$depends" in *libcurl4*libpugixml*) ;; *) fail "libkorvanu0's Depends lacks the library's: $depends" ;; esac
case "$(dpkg-deb -f "${debs[3]}" Depends)" in *libkorvanu0*python3*) ;; *) fail "python3-korvane's Depends: $(dpkg-deb -f "${debs[3]}" Depends)" ;; esac
dpkg -i "${debs[@]}" >/dev/null
files=$(dpkg -L "${packages[@]}")

# Debian's way: hardened (bind now), and no RUNPATH into the system's libdir.
for elf in /usr/bin/korvane "$(dpkg -L libkorvanu0 | grep 'libKorvanu\.so\.[0-9.]*$' | tail -n1)"; do
  dynamic=$(readelf -d "$elf")
  ! grep -qE 'RPATH|RUNPATH' <<<"$dynamic" || fail "$elf has a RUNPATH"
  grep -q BIND_NOW <<<"$dynamic" || fail "$elf is not linked with -z now"
done
tool=$(korvane --version)
[ "$tool" = "korvane $version (library $version)" ] || fail "korvane --version: $tool"
python=$(cd / && /usr/bin/python3 -c 'import korvane; print(korvane.__version__, korvane.library_version())')
[ "$python" = "$version $version" ] || fail "python3 -c 'import korvane': $python"
# The man page renders and carries every help page; the completion completes.
page=$(man -l /usr/share/man/man1/korvane.1.gz 2>"$scratch/man.err")
grep -q 'korvane help COMMAND' <<<"$page" || fail "man korvane"
[ ! -s "$scratch/man.err" ] || fail "man korvane warns: $(cat "$scratch/man.err")"
completed=$(bash -c '. /usr/share/bash-completion/completions/korvane
  COMP_WORDS=(korvane zoom ""); COMP_CWORD=2; _korvane; echo "${COMPREPLY[*]}"')
[ "$completed" = "in out" ] || fail "completion of 'korvane zoom ': $completed"
# The panel's service is installed, with its user and token, but not enabled.
getent passwd _korvane >/dev/null && id -nG _korvane | grep -qw dialout || fail "no user _korvane in dialout"
[ "$(stat -c %U:%G:%a /etc/korvane/panel.token)" = "root:_korvane:640" ] || fail "panel token: $(stat -c %U:%G:%a /etc/korvane/panel.token)"
[ -f /lib/systemd/system/korvane-panel.service ] || fail "no korvane-panel.service"
! ls /etc/systemd/system/*.wants/korvane-panel.service >/dev/null 2>&1 || fail "korvane-panel is enabled"
if command -v systemd-analyze >/dev/null; then
  verified=$(systemd-analyze verify /lib/systemd/system/korvane-panel.service 2>&1) && [ -z "$verified" ] ||
    fail "systemd-analyze verify korvane-panel.service: $verified"
fi
# Hosts, by find_package and by pkg-config (whose paths name /usr).
cmake -S "$consumer" -B "$scratch/cmake" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
"$scratch/cmake/consumer" && "$scratch/cmake/c_consumer"
[ "$(pkg-config --variable=includedir korvane)" = /usr/include ] || fail "pkg-config includedir: $(pkg-config --variable=includedir korvane)"
read -ra flags <<<"$(pkg-config --cflags --libs korvane)"
c++ "$consumer/main.cpp" "${flags[@]}" -o "$scratch/pkgconfig-consumer"
"$scratch/pkgconfig-consumer"
cc -std=c99 -Wall -Werror "$consumer/main.c" "${flags[@]}" -o "$scratch/pkgconfig-c-consumer"
"$scratch/pkgconfig-c-consumer"

dpkg --purge "${packages[@]}" >/dev/null
left=()
while IFS= read -r path; do
  [ -e "$path" ] && [ "$path" != /. ] || continue
  # A folder still there must belong to another package.
  if [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
  left+=("$path")
done <<<"$files"
[ ! -e /etc/korvane ] || left+=(/etc/korvane)
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
echo "deb_check: ${packages[*]} $version install; korvane runs with its man page and completion, python3 imports," \
  "hosts link with find_package and pkg-config, korvane-panel is installed disabled; all purge clean"
