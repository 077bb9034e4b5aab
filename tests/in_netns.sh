#!/bin/sh
# Runs a test program in a network namespace of its own: loopback up, with
# multicast and a multicast route on it, so that discovery probes never
# leave the namespace. Where no namespace can be made, the program runs
# with KORVANE_NETNS_SKIP saying why, and its namespace tests skip.
if unshare -n true 2>/dev/null; then
    exec unshare -n sh -c 'ip link set lo up && ip link set lo multicast on &&
        ip route add 224.0.0.0/4 dev lo && KORVANE_NETNS=1 exec "$@"' sh "$@"
fi
KORVANE_NETNS_SKIP="no network namespace: 'unshare -n' failed (needs root or user namespaces)" exec "$@"
