#!/usr/bin/env bash
# Builds bindings/csharp/Korvane.cs with the tests in KorvaneTests.cs (mono's
# mcs) and runs them against the built library and `korvane sim`.
#   run.sh LIBRARY TOOL VERSION OUT-DIR
set -euo pipefail
library=$1 tool=$2 version=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
for tool_name in mcs mono; do
  command -v $tool_name >/dev/null || { echo "$tool_name missing: apt-get install mono-mcs mono-runtime"; exit 77; }
done
mkdir -p "$out"
mcs -nologo -warnaserror -r:System.Core.dll -out:"$out/KorvaneTests.exe" \
  "$here/../../bindings/csharp/Korvane.cs" "$here/KorvaneTests.cs"
LD_LIBRARY_PATH=$(dirname "$library")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} mono "$out/KorvaneTests.exe" "$tool" "$version"
