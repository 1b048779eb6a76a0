#!/bin/sh
# The archives of `make release`, and a second build of the same commit equal to them
# byte for byte: release_test.sh RELEASE_DIR SOURCE_DIR WINE_PREFIX (an absolute path)
set -eu

release=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
prefix=$3
version=$(sed -n 's/^project(Bootsieve VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
zip=bootsieve-$version-windows-x64.zip
deb=bootsieve_${version}_amd64.deb
work=$(mktemp -d "${TMPDIR:-/tmp}/bootsieve-release-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
fail() {
    echo "$*"
    status=1
}

(cd "$release" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[ "$(unzip -Z1 "$release/$zip" | tr '\n' ' ')" = "LICENSE.txt README.txt bootsieve-manual.txt bootsieve.exe " ] ||
    fail "$zip holds: $(unzip -Z1 "$release/$zip" | tr '\n' ' ')"
unzip -q "$release/$zip" -d "$work/zip"
for text in README.txt LICENSE.txt bootsieve-manual.txt; do
    if grep -qv "$(printf '\r')\$" "$work/zip/$text" || grep -q "$(printf '[\033\010]')" "$work/zip/$text"; then
        fail "$text is not plain text with CR LF"
    fi
done
# Static: no DLL but those every Windows has (ADVAPI32 for the firmware variables' privilege).
x86_64-w64-mingw32-objdump -p "$work/zip/bootsieve.exe" | grep 'DLL Name' |
    grep -qv 'KERNEL32\|msvcrt\|ADVAPI32' && fail "bootsieve.exe is not static"
x86_64-w64-mingw32-objdump -t "$work/zip/bootsieve.exe" | grep -q 'no symbols' || fail "bootsieve.exe is not stripped"
sh "$source/tests/system/windows_resources_test.sh" "$work/zip/bootsieve.exe" "$source" || status=1
(cd "$work" && sh "$source/tests/wine-run.sh" "$prefix" zip/bootsieve.exe --version | head -1 | tr -d '\r') >"$work/version"
[ "$(cat "$work/version")" = "Bootsieve version $version" ] || fail "bootsieve.exe --version says: $(cat "$work/version")"

files=$(dpkg-deb -c "$release/$deb" | awk '{ print $6 }' | tr '\n' ' ')
for file in ./usr/bin/bootsieve ./usr/share/man/man1/bootsieve.1.gz; do
    case " $files" in *" $file "*) ;; *) fail "$deb lacks $file: $files" ;; esac
done
for field in "Package: bootsieve" "Version: $version" "Architecture: amd64" "Depends: libc6 (>=" \
    "Maintainer: The Bootsieve authors <" "Description: report the boot sectors"; do
    dpkg-deb -I "$release/$deb" | grep -qF " $field" || fail "$deb has no field $field"
done

sh "$source/tools/release.sh" "$work/again" >/dev/null
for file in "$zip" "$deb" SHA256SUMS; do
    cmp -s "$release/$file" "$work/again/$file" || fail "a second build of $file differs"
done
exit $status
