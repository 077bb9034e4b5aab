#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs a C++ host
# and a C host against it: with find_package(Korvane) and with pkg-config.
# The installed tool finds the library by itself (RUNPATH), and it and the
# installed Python package carry the project's version.
#   install_check.sh BUILD CONSUMER VERSION
set -euo pipefail
build=$1
consumer=$2
version=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
cmake -S "$consumer" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
libdir=$(dirname "$(find "$scratch/prefix" -name 'libKorvanu.so' | head -n1)")
LD_LIBRARY_PATH=$libdir "$scratch/cmake/consumer"
LD_LIBRARY_PATH=$libdir "$scratch/cmake/c_consumer"
# Every function the C header declares (however many there are today) is
# exported under its own, unmangled name.
declared=$(grep -oE 'KORVANE_CALL +korvane_[a-z0-9_]+' "$scratch/prefix/include/korvane/korvane_c.h" | awk '{print $2}' | sort)
exported=$(nm -D --defined-only "$libdir/libKorvanu.so" | awk '$2 == "T" && $3 ~ /^korvane_/ {print $3}' | sort)
[ -n "$declared" ] && [ "$declared" = "$exported" ] || {
  echo "declared and exported C functions differ:"; diff <(echo "$declared") <(echo "$exported"); exit 1; }
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs korvane)
c++ "$consumer/main.cpp" $flags -o "$scratch/pkgconfig-consumer"
LD_LIBRARY_PATH=$libdir "$scratch/pkgconfig-consumer"
cc -std=c99 -Wall -Werror "$consumer/main.c" $flags -o "$scratch/pkgconfig-c-consumer"
LD_LIBRARY_PATH=$libdir "$scratch/pkgconfig-c-consumer"
# No LD_LIBRARY_PATH: the tool's RUNPATH finds the library.
tool=$(env -u LD_LIBRARY_PATH "$scratch/prefix/bin/korvane" --version)
[ "$tool" = "korvane $version (library $version)" ] || { echo "installed korvane --version: $tool"; exit 1; }
python=$(PYTHONPATH=$(dirname "$(find "$scratch/prefix" -type d -name korvane -path '*dist-packages*')") \
  PYTHONDONTWRITEBYTECODE=1 KORVANE_LIBRARY=$libdir /usr/bin/python3 -c \
  'import korvane; print(korvane.__file__, korvane.__version__, korvane.library_version())')
source_python=$(PYTHONPATH=$consumer/../../python PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c \
  'import korvane; print(korvane.__version__)')
[ "$source_python" = "$version" ] || { echo "Python package in the source tree: $source_python"; exit 1; }
case "$python" in
  "$scratch"/*" $version $version") ;;
  *) echo "installed Python package: $python"; exit 1 ;;
esac
echo "installed library links C++ and C hosts with find_package and pkg-config; tool and Python package $version"
