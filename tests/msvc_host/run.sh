#!/usr/bin/env bash
# Builds msvc_host.c and the C host's checks with clang in MSVC mode, links
# them with lld-link against Korvanu.lib and a kernel32.lib made here (no
# Windows SDK, no C runtime), checks that the program imports nothing but
# Korvanu.dll and kernel32.dll, and runs it under wine.
#   run.sh TARGET BUILD WINE VERSION   (TARGET: x86_64-pc-windows-msvc or i686-pc-windows-msvc)
set -euo pipefail
target=$1 build=$2 wine=$3 version=$4
here=$(cd "$(dirname "$0")" && pwd)
out=$build/msvc_host
mkdir -p "$out"
for tool in clang lld-link llvm-dlltool llvm-readobj; do
  command -v $tool >/dev/null || { echo "$tool missing: apt-get install clang lld llvm"; exit 1; }
done
case $target in
  x86_64-*) machine=i386:x86-64 ;;
  i686-*) machine=i386 ;;
  *) echo "unknown target $target"; exit 2 ;;
esac

# kernel32's functions as kernel32.h declares them; on i686 with their
# __stdcall argument bytes.
{
  echo "LIBRARY kernel32.dll"
  echo "EXPORTS"
  for f in GetProcessHeap@0 HeapAlloc@12 HeapFree@12 GetTickCount@0 InitializeSRWLock@4 \
           AcquireSRWLockExclusive@4 ReleaseSRWLockExclusive@4 InitializeConditionVariable@4 \
           SleepConditionVariableSRW@16 WakeAllConditionVariable@4 GetStdHandle@4 CreateFileA@28 \
           ReadFile@20 WriteFile@20 SetCommTimeouts@8 SetCommState@8 CloseHandle@4 ExitProcess@4; do
    if [ $machine = i386 ]; then echo "    $f"; else echo "    ${f%@*}"; fi
  done
} >"$out/kernel32.def"
llvm-dlltool -m $machine -k -d "$out/kernel32.def" -l "$out/kernel32.lib"

# The serial check uses the last COM-port pair of its own that the Windows
# stage's emulator (scripts/com-pairs.sh) makes for this whole script (the
# simulated peers take the first free one).
if [ -z "${KORVANE_COM_PAIRS+set}" ] && [ "$(basename "$wine")" = wine-com-pairs ]; then
  exec "$wine" --with-pairs bash "$0" "$@"
fi
pair=${KORVANE_COM_PAIRS##*,}
[ -n "$pair" ] || { echo "KORVANE_COM_PAIRS is not set: no COM-port pair for the serial check"; exit 1; }
flags=(--target=$target -std=c99 -O1 -Wall -Wextra -Werror -ffreestanding -mno-stack-arg-probe
       -I"$here/include" -I"$here/../../include" -D_POSIX_C_SOURCE=200809L
       -DKORVANE_TEST_VERSION="\"$version\"" -DKORVANE_PEER_PORT="\"${pair%%:*}\""
       -DKORVANE_CAMERA_PORT="\"${pair#*:}\"")
clang "${flags[@]}" -c "$here/msvc_host.c" -o "$out/msvc_host.obj"
clang "${flags[@]}" -Wno-pedantic -c "$here/../c_host/c_host.c" -o "$out/c_host.obj"
exe=$build/bin/msvc_host.exe
lld-link /nologo /nodefaultlib /entry:host_main /subsystem:console /out:"$exe" \
  "$out/msvc_host.obj" "$out/c_host.obj" "$build/Korvanu.lib" "$out/kernel32.lib"

imports=$(llvm-readobj --coff-imports "$exe" | awk '/Name: .*\.dll/ {print tolower($2)}' | sort -u | tr '\n' ' ')
[ "$imports" = "kernel32.dll korvanu.dll " ] || { echo "the host imports more than Korvanu.dll and kernel32.dll: $imports"; exit 1; }
"$wine" "$exe"
