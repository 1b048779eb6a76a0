#!/bin/sh
# bootsieve.exe carries its manifest and version resource, read back from the exe:
# windows_resources_test.sh EXE SOURCE_DIR
set -eu

exe=$1
source=$2
resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc)
version=$(sed -n 's/^project(Bootsieve VERSION \([0-9]*\)\.\([0-9]*\).*/\1.\2.0.0/p' "$source/CMakeLists.txt")
copyright=$(grep '^Copyright' "$source/LICENSE")

status=0
# Windows 8.1 and later give their real version only to a program that names them.
for line in 'level=""requireAdministrator"" uiAccess=""false""' \
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}' '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' \
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}' '{1f676c76-80e1-4239-95bb-83d0f6d0da78}' \
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' '"FileDescription", "Bootsieve boot sector diagnostic"' \
    '"ProductName", "Bootsieve"' "\"FileVersion\", \"$version\"" "\"ProductVersion\", \"$version\"" \
    '"OriginalFilename", "bootsieve.exe"' "\"LegalCopyright\", \"$copyright\""; do
    if ! printf '%s\n' "$resources" | grep -qF -- "$line"; then
        echo "$exe lacks in its resources: $line"
        status=1
    fi
done
exit $status
