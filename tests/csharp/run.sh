#!/usr/bin/env bash
# Builds bindings/csharp/Korvane.cs with the tests in KorvaneTests.cs (mono's
# mcs) and runs them against the built library and `korvane sim`; then a host
# that ends without disposing a camera that had a report must end within 10 s.
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
mcs -nologo -warnaserror -r:System.Core.dll -main:ExitWithoutDispose -out:"$out/ExitWithoutDispose.exe" \
  "$here/../../bindings/csharp/Korvane.cs" "$here/KorvaneTests.cs" "$here/ExitWithoutDispose.cs"
LD_LIBRARY_PATH=$(dirname "$library")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export LD_LIBRARY_PATH
mono "$out/KorvaneTests.exe" "$tool" "$version"
start=$SECONDS
code=0
timeout -k 5 10 mono "$out/ExitWithoutDispose.exe" "$tool" || code=$?
[ $code -ne 124 ] || { echo "a host that did not dispose its camera was still running after 10 s"; exit 1; }
[ $code -eq 0 ] || { echo "ExitWithoutDispose failed ($code)"; exit 1; }
echo "a host that did not dispose its camera ended in $((SECONDS - start)) s"
