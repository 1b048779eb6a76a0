#!/bin/sh
# Runs a Windows test program under Wine: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# The Wine prefix PREFIX is created on first use, under a lock, so that tests run
# in parallel share one. The test programs use in-memory drives; an empty drive
# list still keeps any real disk out of reach.
set -eu

prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export BOOTSIEVE_DRIVES=

mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
) 9>"$prefix.lock"

exec wine "$@"
