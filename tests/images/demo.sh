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

# A sample firmware tree laid out like /sys/firmware/efi: boot entries (their
# EFI_LOAD_OPTION values) whose hard drive nodes name the ESP of gpt.img by the
# unique GUID that sgdisk gave it, an entry on a disk that is gone, and a
# BootOrder that names an entry that does not exist. Bytes are built as \xHH.
le() { # VALUE BYTES
    local value=$1 i
    for ((i = 0; i < $2; i++)); do printf '\\x%02x' $(((value >> (8 * i)) & 0xff)); done
}
utf16() { # TEXT, with its zero unit
    local text=$1 i
    for ((i = 0; i < ${#text}; i++)); do printf '\\x%02x\\x00' "'${text:i:1}"; done
    printf '\\x00\\x00'
}
guid_bytes() { # GUID text as a GPT stores it: the first three fields little-endian
    local IFS=- part
    read -r -a part <<<"$1"
    le $((16#${part[0]})) 4
    le $((16#${part[1]})) 2
    le $((16#${part[2]})) 2
    printf '%s' "${part[3]}${part[4]}" | sed 's/../\\x&/g'
}
hd_node() { # NUMBER START SIZE GUID
    printf '\\x04\\x01\\x2a\\x00%s%s%s%s\\x02\\x02' "$(le "$1" 4)" "$(le "$2" 8)" "$(le "$3" 8)" \
        "$(guid_bytes "$4")"
}
file_node() { # PATH
    local path
    path=$(utf16 "$1")
    printf '\\x04\\x04%s%s' "$(le $((4 + ${#path} / 4)) 2)" "$path"
}
end_node='\x7f\xff\x04\x00'
load_option() { # ATTRIBUTES DESCRIPTION PATH
    printf '%s%s%s%s' "$(le "$1" 4)" "$(le $((${#3} / 4)) 2)" "$(utf16 "$2")" "$3"
}
variable() { # NAME VALUE
    printf '%b' "\\x07\\x00\\x00\\x00$2" >"firmware/efivars/$1-8be4df61-93ca-11d2-aa0d-00e098032b8c"
}
rm -rf firmware
mkdir -p firmware/efivars
echo 64 >firmware/fw_platform_size
esp=$(hd_node 1 2048 72261 11111111-1111-4111-8111-111111111111)
variable SecureBoot '\x01'
variable SetupMode '\x00'
variable BootCurrent "$(le 0 2)"
variable BootOrder "$(le 0 2)$(le 1 2)$(le 3 2)"
variable Boot0000 "$(load_option 1 "Windows Boot Manager" \
    "$esp$(file_node '\EFI\Microsoft\Boot\bootmgfw.efi')$end_node")"
variable Boot0001 "$(load_option 1 "UEFI OS" "$esp$(file_node '\EFI\BOOT\BOOTX64.EFI')$end_node")"
variable Boot0002 "$(load_option 1 "ubuntu (old disk)" \
    "$(hd_node 1 2048 1048576 0d1e2f30-4152-4637-8899-aabbccddeeff)$(file_node '\EFI\ubuntu\shimx64.efi')$end_node")"

drives=$(printf "$dir/%s:" "${images[@]}")
drives=${drives%:}

echo "== Sample disks in $dir"
for n in "${!images[@]}"; do
    echo "   drive $n: ${images[$n]}"
done
echo
echo "== BOOTSIEVE_DRIVES=$drives"
echo "== BOOTSIEVE_FIRMWARE=$dir/firmware   (a sample firmware tree, read instead of this"
echo "   machine's firmware: the firmware section at the end of Bootsieve.txt)"
echo "== $binary   (its question is answered \"n\")"
echo
status=0
echo n | BOOTSIEVE_DRIVES="$drives" BOOTSIEVE_FIRMWARE="$dir/firmware" "$binary" || status=$?
echo
echo
echo "== Summary report $dir/Bootsieve.txt, the firmware section of the sample tree at its end"
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
echo "== The BCD stores that hivexsh wrote: gpt.img's (drive 6), each entry matched to its"
echo "   partition and its loader; windows-bios.img's (drive 9), left from another disk:"
echo
for n in 6 9; do
    sed -n '/^>> Disk [0-9]* #[0-9]* .*BCD:$/,/^>> Disk [0-9]* Backup/p' "BPB${n}list.txt" |
        grep -v '^>> Disk [0-9]* Backup'
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
echo "== Disks of 4096-byte sectors, made by fdisk -b 4096: 4kn-gpt.img and 4kn-mbr.img."
echo "   Image files tell no sector size; their GPT and boot sectors say it. Reports in"
echo "   $dir/4kn:"
echo
mkdir -p 4kn
(cd 4kn && BOOTSIEVE_DRIVES="$dir/4kn-gpt.img:$dir/4kn-mbr.img" "$binary" </dev/null >/dev/null) ||
    status=$?
cat 4kn/Bootsieve.txt
echo "== Linux beside Windows: dualboot.img, a GPT disk as Debian's installer leaves it (the ESP's"
echo "   grub.cfg searches the root volume by its UUID, whose grub.cfg loads the kernel; fstab names"
echo "   a swap UUID that mkswap replaced), and linux-bios.img, a BIOS disk whose kernel was removed."
echo "   Reports in $dir/linux:"
echo
mkdir -p linux
(cd linux && BOOTSIEVE_DRIVES="$dir/dualboot.img:$dir/linux-bios.img" "$binary" </dev/null \
    >/dev/null) || status=$?
cat linux/Bootsieve.txt
echo "== The GRUB configuration of dualboot.img (drive 0) as the detail report follows it:"
echo
awk '/^>> Disk [0-9]* #[0-9]* .*grub.cfg:$/ {show = 1; print; next}
    /^(>>|$)/ {show = 0} show' linux/BPB0list.txt
echo
echo "== The same 4kn-gpt.img read as a drive of 512-byte sectors tells it (BOOTSIEVE_SECTOR_SIZE=512):"
echo "   a disk partitioned behind a USB bridge of 4096-byte sectors and attached directly."
echo "   Reports in $dir/bridged:"
echo
mkdir -p bridged
(cd bridged && BOOTSIEVE_SECTOR_SIZE=512 BOOTSIEVE_DRIVES="$dir/4kn-gpt.img" "$binary" \
    </dev/null >/dev/null) || status=$?
head -n 4 bridged/Bootsieve.txt
echo "   ..."
echo
echo "== broken-fat32.img (drive 3) has a FAT32 boot sector without its signature."
echo "   To restore it from its backup at sector 69, run Bootsieve on a copy and answer y"
echo "   (the reports go to the current directory):"
echo
echo "   cd /tmp && cp $dir/broken-fat32.img x.img && BOOTSIEVE_DRIVES=/tmp/x.img $binary"
echo
exit "$status"
