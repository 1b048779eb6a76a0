#!/bin/sh
# `cmake --install` puts the program in bin and its manual page in share/man/man1:
# install_test.sh CMAKE BUILD_DIR SOURCE_DIR
set -eu

cmake=$1
build=$2
source=$3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/bootsieve-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

status=0
if [ ! -x "$prefix/bin/bootsieve" ]; then
    echo "not installed: $prefix/bin/bootsieve"
    status=1
fi
if ! cmp -s "$source/doc/bootsieve.1" "$prefix/share/man/man1/bootsieve.1"; then
    echo "not installed as it is in the sources: $prefix/share/man/man1/bootsieve.1"
    status=1
fi
extra=$(cd "$prefix" && find . -type f ! -path ./bin/bootsieve ! -path ./share/man/man1/bootsieve.1)
if [ -n "$extra" ]; then
    echo "installed besides the program and its page: $extra"
    status=1
fi
exit $status
