#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs a host
# against it twice: with find_package(Korvane) and with pkg-config.
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
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs korvane)
c++ "$consumer/main.cpp" $flags -o "$scratch/pkgconfig-consumer"
LD_LIBRARY_PATH=$libdir "$scratch/pkgconfig-consumer"
echo "installed library links with find_package and pkg-config"
