#!/bin/sh
# Builds the release archives of the commit at HEAD: tools/release.sh [OUT]
#   bootsieve-V-windows-x64.zip  bootsieve.exe (static, stripped), README.txt,
#                                LICENSE.txt and bootsieve-manual.txt, CR LF line ends
#   bootsieve_V_amd64.deb        made by CPack from a Release build
#   SHA256SUMS                   for sha256sum -c
# into OUT (release/ by default). Only committed files enter the build: the commit is
# exported into a temporary directory. Built twice, the archives are byte for byte equal:
# times come from the commit, entries are sorted, no build path enters a binary.
set -eu

source=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$source/release}
work=$(mktemp -d "${TMPDIR:-/tmp}/bootsieve-release-XXXXXX")
trap 'rm -rf "$work"' EXIT

umask 022
export LC_ALL=C TZ=UTC
unset CFLAGS CXXFLAGS LDFLAGS
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
if [ -n "$(git -C "$source" status --porcelain --untracked-files=no)" ]; then
    echo "release: uncommitted changes are left out; building $(git -C "$source" rev-parse --short HEAD)" >&2
fi
mkdir "$work/src" "$work/zip" "$work/out"
git -C "$source" archive HEAD | tar -x -C "$work/src"
version=$(sed -n 's/^project(Bootsieve VERSION \([0-9.]*\).*/\1/p' "$work/src/CMakeLists.txt")

# The builds' own paths, all under $work, are mapped away.
build() { # DIR [CMAKE ARGUMENTS...]
    dir=$1
    shift
    cmake -S "$work/src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBOOTSIEVE_TESTS=OFF \
        -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$work=." "$@" >/dev/null
    cmake --build "$dir" >/dev/null
}
build "$work/win" -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw-w64.cmake" \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE="-s -Wl,--no-insert-timestamp"
build "$work/deb"
(cd "$work/deb" && cpack -G DEB >/dev/null)

crlf() { sed 's/$/\r/'; }
cp "$work/win/bootsieve.exe" "$work/zip/bootsieve.exe"
crlf <"$work/src/README.md" >"$work/zip/README.txt"
crlf <"$work/src/LICENSE" >"$work/zip/LICENSE.txt"
# Plain text: no escape sequences, no overstruck bold or underlined letters.
groff -man -Tascii -P-cbou "$work/src/doc/bootsieve.1" | crlf >"$work/zip/bootsieve-manual.txt"
touch -d "@$SOURCE_DATE_EPOCH" "$work/zip"/*
zip=bootsieve-$version-windows-x64.zip
(cd "$work/zip" && ls | sort | zip -q -X -D -9 "$work/out/$zip" -@)

deb=$(cd "$work/deb" && ls bootsieve_*.deb)
cp "$work/deb/$deb" "$work/out/$deb"
(cd "$work/out" && sha256sum "$zip" "$deb" >SHA256SUMS)

mkdir -p "$out"
for file in "$zip" "$deb" SHA256SUMS; do
    cp "$work/out/$file" "$out/$file"
done
echo "release: $out/$zip $out/$deb $out/SHA256SUMS"
