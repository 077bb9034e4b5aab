#!/usr/bin/env bash
# Makes the release packages into dist/:
#   libkorvanu0, libkorvane-dev, korvane, python3-korvane (.deb, built the
#       Debian way by dpkg-buildpackage from packaging/debian, checked by
#       lintian, then installed, used and purged by tests/deb_check.sh as root)
#   korvane-VERSION-win64.zip, -win32.zip (CPack): Korvanu.dll, korvane.exe,
#       Korvanu.lib (MSVC), libKorvanu.dll.a (mingw), Korvanu.def, headers,
#       README, CHANGELOG, LICENSE, THIRD-PARTY-NOTICES.txt, Korvane.cs,
#       third-party-source/ (libqrencode's source, which korvane.exe holds)
#
#   scripts/package.sh [deb|win64|win32]...   (default: all three)
# Build folders: build-pkg-deb (a copy of the sources with debian/ in it),
# build-pkg-win64, -win32 (beside build-win, so that their objects come from
# the compiler cache); the Windows dependencies are those of
# scripts/test-windows.sh (its cache), made if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/compiler-cache.sh
root=$PWD
dist=$root/dist
mkdir -p "$dist"
version=$(sed -n 's/^project(Korvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(deb win64 win32)
common=(-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCPACK_OUTPUT_FILE_PREFIX="$dist")

for target in "${targets[@]}"; do
  case $target in
    deb)
      debian_version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
      [ "${debian_version%-*}" = "$version" ] || {
        echo "packaging/debian/changelog is at $debian_version, the project at $version: add an entry (dch -v $version-1)"; exit 1; }
      # What packaging/debian/control needs to build, installed when missing
      # (dpkg-checkbuilddeps fails when something is: its list is the answer).
      unmet=$( (dpkg-checkbuilddeps packaging/debian/control 2>&1 || true) |
        sed -n 's/.*Unmet build dependencies: //p' | sed -E 's/\([^)]*\)//g; s/ \| [^ ]+//g')
      # shellcheck disable=SC2086
      scripts/install-deps.sh only lintian $unmet
      src=build-pkg-deb/korvane-$version
      rm -rf build-pkg-deb && mkdir -p "$src"
      git ls-files -z -co --exclude-standard | tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$src"
      cp -r packaging/debian "$src/debian"
      # debhelper gives the build a HOME of its own: the compiler cache stays where it is.
      if command -v ccache >/dev/null; then export CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}; fi
      (cd "$src" && DEB_BUILD_OPTIONS="parallel=$(nproc) noautodbgsym ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -b -us -uc >../build.log 2>&1) || { tail -40 build-pkg-deb/build.log; exit 1; }
      rm -f "$dist"/*.deb
      cp build-pkg-deb/*.deb "$dist/"
      # No error; what else lintian says is shown.
      lintian --fail-on error --info build-pkg-deb/*.changes
      ;;
    win64|win32)
      scripts/install-deps.sh only unzip
      if [ $target = win64 ]; then toolchain=cmake/mingw-w64-x86_64.cmake deps=build-win/deps/prefix
      else toolchain=cmake/mingw-w64-i686.cmake deps=build-win-x86/deps/prefix; fi
      KORVANE_WIN_DEPS_ONLY=1 scripts/test-windows.sh
      cmake -S . -B build-pkg-$target "${common[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" \
        -DKORVANE_WIN_PREFIX="$root/$deps" >/dev/null
      cmake --build build-pkg-$target -j "$(nproc)"
      (cd build-pkg-$target && cpack -G ZIP >/dev/null)
      # The licences travel with the zip; a host configured for the MSVC
      # target (clang-cl) finds Korvanu.lib through the CMake package.
      zip=$dist/korvane-$version-$target.zip
      # Listed first: grep -q ends at its match, and unzip, which writes a
      # line at a time, then dies of SIGPIPE, which pipefail takes as failure.
      listing=$(unzip -Z1 "$zip")
      for f in LICENSE THIRD-PARTY-NOTICES.txt 'third-party-source/qrencode_.*\.orig\.tar\.bz2'; do
        grep -q "^korvane-$version-$target/$f\$" <<<"$listing" || { echo "$zip lacks $f"; exit 1; }
      done
      scratch=$(mktemp -d)
      unzip -q "$zip" -d "$scratch"
      if [ $target = win64 ]; then msvc=x86_64-pc-windows-msvc; else msvc=i686-pc-windows-msvc; fi
      env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
        cmake -S tests/msvc_host/find_package -B "$scratch/msvc" -DKORVANE_MSVC_TARGET=$msvc \
        -DCMAKE_TOOLCHAIN_FILE="$root/tests/msvc_host/find_package/clang-cl.cmake" \
        -DCMAKE_PREFIX_PATH="$scratch/korvane-$version-$target" | grep 'MSVC host links' ||
        { rm -rf "$scratch"; echo "the Windows CMake package gives MSVC hosts no Korvanu.lib"; exit 1; }
      rm -rf "$scratch"
      ;;
    *) echo "usage: $0 [deb|win64|win32]..." >&2; exit 2 ;;
  esac
done
ls -l "$dist"
if [[ " ${targets[*]} " == *" deb "* ]]; then
  tests/deb_check.sh "$dist" "$root/tests/consumer" "$version"
fi
