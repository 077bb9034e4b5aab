#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs a C++ host
# and a C host against it: with find_package(Korvane) and with pkg-config.
set -euo pipefail
build=$1
consumer=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
cmake -S "$consumer" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
libdir=$(dirname "$(find "$scratch/prefix" -name 'libKorvanu.so' | head -n1)")
LD_LIBRARY_PATH=$libdir "$scratch/cmake/consumer"
LD_LIBRARY_PATH=$libdir "$scratch/cmake/c_consumer"
# Every function the C header declares is exported under its own, unmangled
# name.
declared=$(grep -o 'KORVANE_CALL korvane_[a-z_]*' "$scratch/prefix/include/korvane/korvane_c.h" | cut -d' ' -f2 | sort)
exported=$(nm -D --defined-only "$libdir/libKorvanu.so" | awk '$2 == "T" && $3 ~ /^korvane_/ {print $3}' | sort)
[ -n "$declared" ] && [ "$declared" = "$exported" ] || {
  echo "declared and exported C functions differ:"; diff <(echo "$declared") <(echo "$exported"); exit 1; }
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs korvane)
c++ "$consumer/main.cpp" $flags -o "$scratch/pkgconfig-consumer"
LD_LIBRARY_PATH=$libdir "$scratch/pkgconfig-consumer"
cc -std=c99 -Wall -Werror "$consumer/main.c" $flags -o "$scratch/pkgconfig-c-consumer"
LD_LIBRARY_PATH=$libdir "$scratch/pkgconfig-c-consumer"
echo "installed library links C++ and C hosts with find_package and pkg-config"
