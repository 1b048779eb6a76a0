#!/bin/sh
# Runs COMMAND with one persistent wineserver for the Wine prefix PREFIX:
#   with-wineserver.sh PREFIX COMMAND [ARGUMENTS...]
# Tests start many short Wine processes, in parallel. A wineserver that each of
# them starts on demand shuts down a moment after the last one ends, and a
# process that connects while it does fails ("recvmsg: Connection reset by
# peer"). One server kept alive for the whole test run closes that window; it is
# stopped when COMMAND ends, whatever its result.
set -u

. "$(dirname "$0")/wine-prefix.sh"
use_wine_prefix "$1"
shift

wineserver -p >/dev/null 2>&1 || true
# The first Wine process of a server starts Wine's own services, which live as
# long as the server and keep the standard streams they were given: started here,
# they hold /dev/null, not the pipes through which a test runner waits for a test.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
status=0
"$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit "$status"
