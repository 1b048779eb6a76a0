#!/bin/sh
# Runs a Windows test program under Wine: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# The test programs use in-memory drives; an empty drive list still keeps any
# real disk out of reach.
set -eu

. "$(dirname "$0")/wine-prefix.sh"
use_wine_prefix "$1"
shift
export BOOTSIEVE_DRIVES=

exec wine "$@"
