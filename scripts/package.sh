#!/usr/bin/env bash
# Makes the release packages with CPack, into dist/:
#   korvane_VERSION_amd64.deb      the library, headers, CMake and pkg-config
#                                  files, the tool and the Python package
#   korvane-VERSION-win64.zip      Korvanu.dll, korvane.exe, Korvanu.lib (MSVC),
#   korvane-VERSION-win32.zip      libKorvanu.dll.a (mingw), Korvanu.def,
#                                  headers, README, CHANGELOG, Korvane.cs
# then installs the .deb, uses it and purges it (tests/deb_check.sh; as root).
#
#   scripts/package.sh [deb|win64|win32]...   (default: all three)
# Build folders: build-pkg-deb, -win64, -win32 (beside build-win, so that
# their objects come from the compiler cache); the Windows dependencies are those of
# scripts/test-windows.sh (its cache, linked from build-win/deps and
# build-win-x86/deps), made if missing.
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
      scripts/install-deps.sh build
      command -v dpkg-shlibdeps >/dev/null || { echo "dpkg-shlibdeps missing: apt-get install dpkg-dev"; exit 1; }
      cmake -S . -B build-pkg-deb "${common[@]}" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
      cmake --build build-pkg-deb -j "$(nproc)"
      (cd build-pkg-deb && cpack -G DEB >/dev/null)
      ;;
    win64|win32)
      if [ $target = win64 ]; then toolchain=cmake/mingw-w64-x86_64.cmake deps=build-win/deps/prefix
      else toolchain=cmake/mingw-w64-i686.cmake deps=build-win-x86/deps/prefix; fi
      KORVANE_WIN_DEPS_ONLY=1 scripts/test-windows.sh
      cmake -S . -B build-pkg-$target "${common[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" \
        -DKORVANE_WIN_PREFIX="$root/$deps" >/dev/null
      cmake --build build-pkg-$target -j "$(nproc)"
      (cd build-pkg-$target && cpack -G ZIP >/dev/null)
      ;;
    *) echo "usage: $0 [deb|win64|win32]..." >&2; exit 2 ;;
  esac
done
ls -l "$dist"
if [[ " ${targets[*]} " == *" deb "* ]]; then
  tests/deb_check.sh "$dist/korvane_${version}_amd64.deb" "$root/tests/consumer" "$version"
fi
