#!/bin/sh
# Runs onvif_client.js against KORVANE_TOOL's simulated ONVIF camera, in a
# network namespace of its own (tests/in_netns.sh), with the npm onvif client
# that scripts/install-deps.sh installs outside the tree.
#   run.sh KORVANE_TOOL
here=$(dirname "$0")
cache=${KORVANE_NPM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvane/npm}
command -v node >/dev/null || { echo "node is missing: scripts/install-deps.sh test installs it"; exit 1; }
[ -f "$cache/node_modules/onvif/package.json" ] ||
    { echo "the npm onvif client is not in $cache: scripts/install-deps.sh test installs it"; exit 1; }
NODE_PATH=$cache/node_modules exec sh "$here/../in_netns.sh" node "$here/onvif_client.js" "$1"
