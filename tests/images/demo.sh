#!/usr/bin/env bash
# The demo: makes the sample disk images in DIR, runs Bootsieve there on them and
# shows what it reported. The broken boot sector's question is answered "n", so
# the images stay as they were made.
# Usage: demo.sh BINARY DIR
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BINARY DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mkdir -p "$2"
dir=$(cd "$2" && pwd)
images=(classic.img blank.img unsigned.img broken-fat32.img reformatted.img bitlocker.img
    gpt.img grub2.img install-mbr.img windows-bios.img)

bash "$here/make_images.sh" "$dir"
cd "$dir"
rm -f Bootsieve.txt BPB?list.txt Zero?list.txt

drives=$(printf "$dir/%s:" "${images[@]}")
drives=${drives%:}

echo "== Sample disks in $dir"
for n in "${!images[@]}"; do
    echo "   drive $n: ${images[$n]}"
done
echo
echo "== BOOTSIEVE_DRIVES=$drives"
echo "== $binary   (its question is answered \"n\")"
echo
status=0
echo n | BOOTSIEVE_DRIVES="$drives" "$binary" || status=$?
echo
echo
echo "== Summary report $dir/Bootsieve.txt"
echo
cat Bootsieve.txt
echo "== Detail report $dir/BPB0list.txt, without its hex dumps:"
echo "   boot code, decoded NTFS, FAT32 and FAT16 boot sectors, backup checks"
echo
grep -v -E '^[0-9a-f]{3}: ' BPB0list.txt
echo "== Detail report $dir/BPB4list.txt (reformatted.img), without its hex dumps:"
echo "   exFAT decoded with its boot region checked, partition types that disagree with"
echo "   their content"
echo
grep -v -E '^[0-9a-f]{3}: ' BPB4list.txt
echo "== Detail report $dir/BPB6list.txt (gpt.img), the GUID partition table section without"
echo "   its hex dumps: the decoded header, the backup check, the entries with their names"
echo
grep -v -E '^[0-9a-f]{3}: ' BPB6list.txt | sed -n '/GUID partition table/,/^>> #1 /p'
echo "   ..."
echo
echo "== Reserved-sector report $dir/Zero6list.txt (gpt.img):"
echo
cat Zero6list.txt
echo "== Boot code named in the detail reports of grub2.img (drive 7) and install-mbr.img"
echo "   (drive 8), which sfdisk left without an active partition:"
echo
for n in 7 8; do
    grep -E 'MBR boot code|GRUB 2 core|marked active|^Boot code' "BPB${n}list.txt"
done
echo
echo "== Boot files in the detail reports of gpt.img (drive 6): the loaders on its EFI system"
echo "   partition, the boot manager, BCD and loaders on its Windows volume; and of"
echo "   windows-bios.img (drive 9), whose active System Reserved volume lost \\bootmgr:"
echo
for n in 6 9; do
    grep -E '^>> Disk [0-9]+ #[0-9]+ Boot files|^   \\|^#[0-9]+ (EFI system|.* without |The boot sector loads|.* compressed|.* unreadable)' \
        "BPB${n}list.txt"
done
echo
echo "== Reserved-sector report $dir/Zero0list.txt, first lines:"
echo
head -n 8 Zero0list.txt
echo "   ..."
echo
echo "== Detail reports (partition tables, boot sectors decoded, backup checks):"
for report in BPB?list.txt; do
    echo "   $dir/$report"
done
echo "== Reserved-sector reports (sectors 1 to 62):"
for report in Zero?list.txt; do
    echo "   $dir/$report"
done
echo
echo "== broken-fat32.img (drive 3) has a FAT32 boot sector without its signature."
echo "   To restore it from its backup at sector 69, run Bootsieve on a copy and answer y"
echo "   (the reports go to the current directory):"
echo
echo "   cd /tmp && cp $dir/broken-fat32.img x.img && BOOTSIEVE_DRIVES=/tmp/x.img $binary"
echo
exit "$status"
