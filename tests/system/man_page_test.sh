#!/bin/sh
# The manual page formats without a warning and tells what the usage text tells:
# man_page_test.sh PAGE
set -eu

page=$1
if ! command -v groff >/dev/null 2>&1; then
    echo "groff is not installed (Debian package groff-base)"
    exit 77
fi

warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1) || {
    echo "groff failed on $page: $warnings"
    exit 1
}
if [ -n "$warnings" ]; then
    echo "groff warns about $page:"
    echo "$warnings"
    exit 1
fi

# Rendered without hyphenation or adjustment, each phrase stays on one line.
text=$(groff -man -Tutf8 -rHY=0 -dAD=l -rLL=200n "$page" 2>/dev/null | sed 's/.\x08//g')
status=0
for phrase in "bootsieve [--help | -h | --version]" "Do you want to replace BPB with backup?" \
    "Bootsieve.txt" "BPBnlist.txt" "Zeronlist.txt" "BOOTSIEVE_DRIVES" "BOOTSIEVE_FIRMWARE" "sectors 1 to 62" \
    "The command line was not understood." "A report could not be created or written."; do
    if ! printf '%s\n' "$text" | grep -qF -- "$phrase"; then
        echo "$page does not say: $phrase"
        status=1
    fi
done
exit $status
