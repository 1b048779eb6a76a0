#!/usr/bin/env bash
# Makes sample disk images with the real tools, as a disk of the MBR era looks:
#   classic.img       MBR: active NTFS at 63, FAT32, extended partition holding
#                     FAT16, FAT12 and a Linux (83) logical partition; a boot
#                     loader's stage in sectors 1 and 2
#   blank.img         all zero
#   unsigned.img      an MBR whose 55 AA signature is missing
#   broken-fat32.img  FAT32 at 63 whose boot sector lost its signature; the
#                     backup boot sector at 69 is intact
#   reformatted.img   partitions whose type byte and content disagree, as mkfs
#                     leaves them: exFAT in types 07 and 0C, NTFS in type 0C,
#                     FAT32 in type 07
#   bitlocker.img     a type 07 partition holding a BitLocker volume's boot sector
#                     (crafted: no tool here makes BitLocker volumes)
#   gpt.img           a GPT disk as Windows and Linux share it, made by sgdisk: EFI
#                     system partition (FAT32, Windows' loader files and the
#                     fallback loader put there by mtools, a loader deleted by
#                     mdel, a BCD store that hivexsh wrote naming the partitions
#                     below), Microsoft reserved, basic data (NTFS holding
#                     \bootmgr, \Boot\BCD and \Windows\System32 written by
#                     wimapply), Windows recovery environment (NTFS), Linux; with
#                     gpt.sgdisk, the `sgdisk -p` of its table
#   xp.img            Windows XP's active FAT16 volume: NTLDR, NTDETECT.COM and
#                     boot.ini, hidden, system and read-only (mtools)
#   windows-bios.img  a BIOS Windows disk whose active System Reserved volume
#                     (NTFS, with the identifying bytes of Windows 8 to 11 boot
#                     code) holds \Boot\BCD (hivexsh's, naming a partition of
#                     another disk) but lost \bootmgr, and a Windows
#                     volume whose winload.exe has so many hard links that its
#                     $DATA lies in an extension record named by its
#                     $ATTRIBUTE_LIST (wimapply)
#   grub2.img         GRUB 2's MBR code (boot.img) with the first sector of its core
#                     image (diskboot.img) where boot.img names it, sector 1, and
#                     an active FAT16 partition holding /boot/grub/i386-pc/normal.mod
#   syslinux.img      Syslinux's MBR code (mbr.bin), an active FAT16 partition
#   syslinux-gpt.img  a GUID partition table whose protective MBR holds Syslinux's
#                     GPT MBR code (gptmbr.bin)
#   install-mbr.img   install-mbr's code over an NTFS partition that sfdisk did not
#                     mark active: that code boots the active partition, and there
#                     is none
#   4kn-gpt.img       a disk of 4096-byte sectors partitioned by `fdisk -b 4096`:
#                     GPT, an EFI system partition formatted by
#                     `mkfs.fat -F 32 -S 4096` and a basic data partition by
#                     `mkntfs -s 4096`; with 4kn-gpt.fdisk, its `fdisk -b 4096 -l`
#   4kn-mbr.img       the same for an MBR: NTFS, exFAT (mkfs.exfat made to see
#                     4096-byte sectors by sector_size_shim.c), an extended
#                     partition with a FAT16 and a Linux logical drive
#   stale.img         two type 07 partitions formatted NTFS, then reformatted in
#                     place, FAT32 by mkfs.fat and exFAT by mkfs.exfat, as a user
#                     does; each keeps the old NTFS boot sector in its last sector,
#                     and both new boot sectors lost their signature
#   dualboot.img      a GPT disk as Debian installs itself beside Windows: ESP
#                     (FAT32: shim, GRUB and the stub grub.cfg that searches the root
#                     by its UUID, Windows' boot manager), Microsoft reserved,
#                     Windows (NTFS), Linux root (ext4 made by mke2fs -d: /boot with
#                     kernel, initrd, grub.cfg and grubenv, /etc/fstab naming the swap
#                     by a UUID it had before mkswap ran again), Linux swap
#   linux-bios.img    a BIOS Linux disk: GRUB 2's MBR code and core image, an ext4
#                     root whose grub.cfg loads a kernel that was removed
# and for each partitioned image NAME.sfdisk, the `sfdisk --dump` of its table.
# Usage: make_images.sh DIR    (exits with 77 when a tool is not installed)
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"

if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
cd "$dir"

for tool in truncate sfdisk fdisk sgdisk mkfs.fat mkntfs mkfs.exfat dd od install-mbr cc mmd mcopy \
    mdel mattrib wimcapture wimapply hivexsh mke2fs debugfs mkswap grub-editenv; do
    command -v "$tool" >/dev/null || {
        echo "$0: $tool is not installed (packages coreutils, fdisk, gdisk, dosfstools," \
            "ntfs-3g, exfatprogs, mbr, gcc, mtools, wimtools, libhivex-bin, e2fsprogs, grub-common)" >&2
        exit 77
    }
done
# mtools reads the volumes at image@@offset without looking at the partition table.
export MTOOLS_SKIP_CHECK=1

# Boot loader images as their packages ship them.
grub_images=/usr/lib/grub/i386-pc
syslinux_images=/usr/lib/syslinux/mbr
for file in "$grub_images/boot.img" "$grub_images/diskboot.img" "$syslinux_images/mbr.bin" \
    "$syslinux_images/gptmbr.bin"; do
    [ -r "$file" ] || {
        echo "$0: $file is missing (packages grub-pc-bin, syslinux-common)" >&2
        exit 77
    }
done

# Old DOS geometry: 255 heads, 63 sectors per track, partitions on track bounds.
heads=255
spt=63

# Runs a formatting tool; its chatter is shown only when it fails.
quietly() {
    local output
    if ! output=$("$@" 2>&1); then
        echo "$output" >&2
        echo "$0: failed: $*" >&2
        return 1
    fi
}

# A FAT volume of COUNT sectors at sector START of IMAGE; ARGS go to mkfs.fat.
make_fat() {
    local image=$1 start=$2 count=$3
    shift 3
    quietly mkfs.fat --offset="$start" -h "$start" -g "$heads/$spt" "$@" "$image" $((count / 2))
}

# An NTFS volume on a partition-sized file, copied into IMAGE at sector START.
# mkntfs keeps the backup boot sector in the partition's last sector. With a
# WIM, wimapply writes its files into the volume through libntfs-3g.
make_ntfs() {
    local image=$1 start=$2 count=$3 label=$4 wim=${5:-}
    local part="$image.ntfs.part"
    rm -f "$part"
    truncate -s $((count * 512)) "$part"
    quietly mkntfs -F -Q -p "$start" -H "$heads" -S "$spt" -L "$label" "$part"
    if [ -n "$wim" ]; then
        quietly wimapply "$wim" 1 "$part"
    fi
    dd if="$part" of="$image" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
}

# A file of SIZE bytes of LETTER at PATH, its directories made: dummy content for
# loaders that are listed, never run.
dummy_file() {
    local path=$1 size=$2 letter=$3
    mkdir -p "$(dirname "$path")"
    head -c "$size" /dev/zero | tr '\0' "$letter" >"$path"
}

# A registry hive holding its root key and the security cell hivexsh copies to
# new keys, and nothing else: the start of a BCD store.
minimal_hive() {
    local hive=$1
    rm -f "$hive"
    truncate -s 8192 "$hive"
    put() { printf "$2" | dd of="$hive" bs=1 seek="$1" conv=notrunc status=none; }
    put 0 '\162\145\147\146\001'
    put 8 '\001'
    put 20 '\001'
    put 24 '\003'
    put 32 '\001'
    put 36 '\120'
    put 41 '\020'
    put 44 '\001'
    put 508 '\040\165\147\146'
    put 4096 '\150\142\151\156'
    put 4105 '\020'
    put 4128 '\320\377\377\377\163\153'
    put 4136 '\040'
    put 4140 '\040'
    put 4144 '\001'
    put 4148 '\024'
    put 4152 '\001'
    put 4155 '\200'
    put 4176 '\250\377\377\377\156\153\054'
    put 4196 '\377\377\377\377'
    put 4208 '\377\377\377\377\377\377\377\377'
    put 4220 '\377\377\377\377\040'
    put 4228 '\377\377\377\377'
    put 4252 '\004'
    put 4256 '\122\117\117\124'
    put 4264 '\130\017'
}

# hivexsh's commands for an object ID of TYPE, then each ELEMENT VALUE pair.
bcd_object() {
    local id=$1 type=$2
    shift 2
    printf 'cd \\Objects\nadd %s\ncd %s\nadd Description\ncd Description\nsetval 1\nType\n' "$id" "$id"
    printf 'dword:%s\ncd ..\nadd Elements\n' "$type"
    while [ $# -gt 1 ]; do
        printf 'cd \\Objects\\%s\\Elements\nadd %s\ncd %s\nsetval 1\nElement\n%s\n' "$id" "$1" "$1" "$2"
        shift 2
    done
}

# A partition device element: its type (06) and 0x48 bytes of data, the
# partition's identity at 0x20 and the disk's at 0x38 (MBR: style 1 at 0x34).
bcd_device() {
    local z16=00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
    printf 'hex:3:%s,%s,00,00,00,00,48,00,00,00,00,00,00,00,%s,%s,%s,00,00,00,00,00,00,00,00' "$z16" "$1" "$2" \
        "$3" "$4"
}

# The BCD store of a Windows install into FILE: the boot manager on the device
# BOOT, Windows on the device WINDOWS, loading LOADER.
bcd_store() {
    local file=$1 boot=$2 windows=$3 loader=$4 manager=$5
    local bootmgr='{9dea862c-5cdd-4e70-acc1-f32b344d4795}' memdiag='{b2721d73-1db4-4c62-bf78-c548a880142d}'
    local os='{a5a30fa2-3d06-11ee-9ef5-c9bd3a1b9b34}'
    local order=7b,00,61,00,35,00,61,00,33,00,30,00,66,00,61,00,32,00,2d,00,33,00,64,00,30,00,36,00,2d,00,31,00,31,00,65,00,65,00,2d,00,39,00,65,00,66,00,35,00,2d,00,63,00,39,00,62,00,64,00,33,00,61,00,31,00,62,00,39,00,62,00,33,00,34,00,7d,00,00,00,00,00
    minimal_hive "$file"
    {
        echo 'add Objects'
        bcd_object "$bootmgr" 0x10100002 11000001 "$boot" 12000002 "string:$manager" \
            12000004 'string:Windows Boot Manager' 23000003 "string:$os" 24000001 "hex:7:$order" \
            25000004 hex:3:1e,00,00,00,00,00,00,00
        bcd_object "$os" 0x10200003 11000001 "$windows" 12000002 "string:\\Windows\\system32\\$loader" \
            12000004 'string:Windows 11' 21000001 "$windows" 22000002 'string:\Windows'
        bcd_object "$memdiag" 0x10200005 11000001 "hex:3:$(printf '00,%.0s' $(seq 16))05,00,00,00,00,00,00,00,48$(printf ',00%.0s' $(seq 63))" \
            12000002 'string:\EFI\Microsoft\Boot\memtest.efi' 12000004 'string:Windows Memory Diagnostic'
        echo commit
    } >"$file.hivexsh"
    quietly hivexsh -w "$file" <"$file.hivexsh"
    rm -f "$file.hivexsh"
}

# gpt.img's: the boot manager on the ESP (unique GUID 11111111-...), Windows on
# its basic data partition (33333333-...), both on the disk 5EC7A1B0-...
uefi_bcd_store() {
    local disk=b0,a1,c7,5e,00,00,00,40,80,00,00,00,00,00,d1,5c,00,00,00,00,00,00,00,00
    bcd_store "$1" \
        "$(bcd_device 06,00,00,00 11,11,11,11,11,11,11,41,81,11,11,11,11,11,11,11 00,00,00,00,00,00,00,00 "$disk")" \
        "$(bcd_device 06,00,00,00 33,33,33,33,33,33,33,43,83,33,33,33,33,33,33,33 00,00,00,00,00,00,00,00 "$disk")" \
        winload.efi '\EFI\Microsoft\Boot\bootmgfw.efi'
}

# A BIOS install's store left from another disk (signature 1234ABCD): Windows at
# byte 105906176 there, on no disk of the samples.
bios_bcd_store() {
    local disk=cd,ab,34,12,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
    bcd_store "$1" \
        "$(bcd_device 06,00,00,00 00,00,10,00,00,00,00,00,00,00,00,00,00,00,00,00 00,00,00,00,01,00,00,00 "$disk")" \
        "$(bcd_device 06,00,00,00 00,00,50,06,00,00,00,00,00,00,00,00,00,00,00,00 00,00,00,00,01,00,00,00 "$disk")" \
        winload.exe '\bootmgr'
}

# A WIM of the tree that the function named FILL fills, for make_ntfs.
make_wim() {
    local wim=$1 fill=$2 tree="$1.tree"
    rm -rf "$tree" "$wim"
    mkdir -p "$tree"
    "$fill" "$tree"
    quietly wimcapture "$tree" "$wim"
    rm -rf "$tree"
}

# An mtools command on the FAT volume at sector START of IMAGE.
fat() {
    local tool=$1 image=$2 start=$3
    shift 3
    quietly "$tool" -i "$image@@$((start * 512))" "$@"
}

# IMAGE of START + SIZE sectors whose MBR lists one partition at START; ATTRS are
# sfdisk's ("type=7", "type=6, bootable").
make_one_partition_disk() {
    local image=$1 start=$2 size=$3 attrs=$4
    rm -f "$image"
    truncate -s $(((start + size) * 512)) "$image"
    printf 'start=%s, size=%s, %s\n' "$start" "$size" "$attrs" |
        sfdisk --quiet --label dos --no-reread --no-tell-kernel "$image"
}

# An exFAT volume on a partition-sized file, copied into IMAGE at sector START.
make_exfat() {
    local image=$1 start=$2 count=$3 label=$4
    local part="$image.exfat.part"
    rm -f "$part"
    truncate -s $((count * 512)) "$part"
    quietly mkfs.exfat -L "$label" "$part"
    dd if="$part" of="$image" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
}

# Runs a formatting tool (ARGS, the file last) on partition START..+COUNT of
# IMAGE in place: over whatever the partition held, as on a real disk.
reformat_in_place() {
    local image=$1 start=$2 count=$3
    shift 3
    local part="$image.reformat.part"
    dd if="$image" of="$part" bs=512 skip="$start" count="$count" status=none
    quietly "$@" "$part"
    dd if="$part" of="$image" bs=512 seek="$start" conv=notrunc status=none
    rm -f "$part"
}

# Partitions IMAGE with `fdisk -b 4096`, answering its questions with SCRIPT.
fdisk_4096() {
    printf "$2" | quietly fdisk -b 4096 "$1"
    fdisk -b 4096 -l "$1" >"${1%.img}.fdisk"
}

# A volume on a partition-sized file of COUNT 4096-byte sectors, made by the
# command after the arguments (the file last), copied into IMAGE at sector START.
make_4096() {
    local image=$1 start=$2 count=$3
    shift 3
    local part="$image.4096.part"
    rm -f "$part"
    truncate -s $((count * 4096)) "$part"
    quietly "$@" "$part"
    dd if="$part" of="$image" bs=4096 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
}

dump_table() {
    sfdisk --dump "$1" >"${1%.img}.sfdisk"
}

make_classic() {
    local image=classic.img
    local ntfs=63 ntfs_size=16002
    local fat32=16065 fat32_size=72261
    local ext=88326 ext_size=48195
    # Each logical partition starts one track after its extended boot record.
    local fat16=88389 fat16_size=32067
    local fat12=120519 fat12_size=8001
    local linux=128583 linux_size=7938
    rm -f "$image"
    truncate -s $(((ext + ext_size) * 512)) "$image"
    sfdisk --quiet --no-reread --no-tell-kernel "$image" <<EOF
label: dos
label-id: 0xc1a55c00
unit: sectors

start=$ntfs, size=$ntfs_size, type=7, bootable
start=$fat32, size=$fat32_size, type=c
start=$ext, size=$ext_size, type=f
start=$fat16, size=$fat16_size, type=e
start=$fat12, size=$fat12_size, type=1
start=$linux, size=$linux_size, type=83
EOF
    make_ntfs "$image" "$ntfs" "$ntfs_size" CLASSICNTFS
    make_fat "$image" "$fat32" "$fat32_size" -F 32 -s 1 -n CLASSIC32 -i 32C1A55C
    make_fat "$image" "$fat16" "$fat16_size" -F 16 -s 1 -n CLASSIC16 -i 16C1A55C
    make_fat "$image" "$fat12" "$fat12_size" -F 12 -s 4 -n CLASSIC12 -i 12C1A55C
    # A boot loader installed in the Linux partition's boot sector.
    printf 'BOOTSIEVE SAMPLE LINUX PARTITION BOOT LOADER' |
        dd of="$image" bs=512 seek="$linux" conv=notrunc status=none
    printf '\x55\xaa' | dd of="$image" bs=1 seek=$((linux * 512 + 510)) conv=notrunc status=none
    # A boot loader's second stage between the MBR and the first partition.
    printf 'BOOTSIEVE SAMPLE STAGE 1.5 (sector 1)' |
        dd of="$image" bs=512 seek=1 conv=notrunc status=none
    printf 'BOOTSIEVE SAMPLE STAGE 1.5 (sector 2)' |
        dd of="$image" bs=512 seek=2 conv=notrunc status=none
    dump_table "$image"
}

make_blank() {
    rm -f blank.img
    truncate -s 1M blank.img
}

make_unsigned() {
    local image=unsigned.img
    rm -f "$image"
    truncate -s 4M "$image"
    printf 'start=2048, type=83\n' | sfdisk --quiet --label dos --no-reread --no-tell-kernel \
        "$image"
    dump_table "$image"
    printf '\0\0' | dd of="$image" bs=1 seek=510 conv=notrunc status=none
}

make_broken_fat32() {
    local image=broken-fat32.img
    local start=63 size=72261
    rm -f "$image"
    truncate -s $(((start + size) * 512)) "$image"
    sfdisk --quiet --no-reread --no-tell-kernel "$image" <<EOF
label: dos
label-id: 0xb0c0fa32
unit: sectors

start=$start, size=$size, type=c, bootable
EOF
    make_fat "$image" "$start" "$size" -F 32 -s 1 -n BROKEN32 -i B0C0FA32
    dump_table "$image"
    # The boot sector loses its signature; mkfs.fat put its backup at 63 + 6.
    printf '\0\0' | dd of="$image" bs=1 seek=$((start * 512 + 510)) conv=notrunc status=none
}

make_reformatted() {
    local image=reformatted.img
    local exfat07=2048 exfat0c=18432 ntfs0c=34816 fat32_07=51200
    local size=16384 fat32_size=72261
    rm -f "$image"
    truncate -s $(((fat32_07 + fat32_size) * 512)) "$image"
    sfdisk --quiet --no-reread --no-tell-kernel "$image" <<EOF
label: dos
label-id: 0x4e3f0a7e
unit: sectors

start=$exfat07, size=$size, type=7
start=$exfat0c, size=$size, type=c
start=$ntfs0c, size=$size, type=c
start=$fat32_07, size=$fat32_size, type=7
EOF
    make_exfat "$image" "$exfat07" "$size" EXFAT07
    make_exfat "$image" "$exfat0c" "$size" EXFAT0C
    make_ntfs "$image" "$ntfs0c" "$size" NTFS0C
    make_fat "$image" "$fat32_07" "$fat32_size" -F 32 -s 1 -n FAT32IN07 -i 32070732
    dump_table "$image"
}

# The start of a BitLocker volume's boot sector: a jump, the "-FVE-FS-"
# signature where the OEM ID stands, and 55 AA.
make_bitlocker() {
    local image=bitlocker.img start=2048 size=16384
    make_one_partition_disk "$image" "$start" "$size" "type=7"
    printf '\xeb\x58\x90-FVE-FS-\x00\x02\x08' |
        dd of="$image" bs=1 seek=$((start * 512)) conv=notrunc status=none
    printf '\x55\xaa' | dd of="$image" bs=1 seek=$((start * 512 + 510)) conv=notrunc status=none
    dump_table "$image"
}

make_gpt() {
    local image=gpt.img
    local esp=2048 esp_size=72261
    rm -f "$image"
    truncate -s 80M "$image"
    quietly sgdisk -o -U 5EC7A1B0-0000-4000-8000-00000000D15C \
        -n 1:$esp:+$esp_size -t 1:ef00 -c 1:"EFI system partition" \
        -n 2:0:+32768 -t 2:0c01 -c 2:"Microsoft reserved partition" \
        -n 3:0:+16384 -t 3:0700 -c 3:"Basic data partition" \
        -n 4:0:+16384 -t 4:2700 -c 4:"Windows RE" \
        -n 5:0:+16384 -t 5:8300 -c 5:"Linux" \
        -u 1:11111111-1111-4111-8111-111111111111 -u 2:22222222-2222-4222-8222-222222222222 \
        -u 3:33333333-3333-4333-8333-333333333333 -u 4:44444444-4444-4444-8444-444444444444 \
        -u 5:55555555-5555-4555-8555-555555555555 "$image"
    sgdisk -p "$image" >gpt.sgdisk
    make_fat "$image" "$esp" "$esp_size" -F 32 -s 1 -n EFI -i E5F1E5F1
    fill_esp "$image" "$esp"
    make_wim gpt-windows.wim windows_files
    local start size wim
    for n in 3 4; do
        read -r start size < <(sgdisk -i "$n" "$image" |
            awk '/^First sector/ {s=$3} /^Partition size/ {z=$3} END {print s, z}')
        wim=""
        [ "$n" = 3 ] && wim=gpt-windows.wim
        make_ntfs "$image" "$start" "$size" "GPTNTFS$n" "$wim"
    done
    rm -f gpt-windows.wim
}

# Windows' loader files as its setup leaves the EFI system partition, with the
# fallback loader; mtools stores bootmgfw.efi as an 8.3 name with lower-case
# flags and Microsoft with a long name. A second loader, deleted by mdel, leaves
# its entry marked deleted. The Boot directory fills two 512-byte clusters.
fill_esp() {
    local image=$1 start=$2 files=esp.files
    rm -rf "$files"
    dummy_file "$files/bootmgfw.efi" 2100 M
    dummy_file "$files/bootmgr.efi" 1900 N
    dummy_file "$files/memtest.efi" 1700 T
    uefi_bcd_store "$files/BCD"
    dummy_file "$files/BCD.LOG" 1024 L
    dummy_file "$files/boot.stl" 900 S
    dummy_file "$files/kd_02_10df.dll" 300 K
    dummy_file "$files/kdstub.dll" 300 K
    dummy_file "$files/boot.sdi" 3000 I
    dummy_file "$files/winsipolicy.p7b" 500 P
    dummy_file "$files/BOOTX64.EFI" 2100 M
    dummy_file "$files/grubx64.efi" 1200 G
    fat mmd "$image" "$start" ::/EFI ::/EFI/Microsoft ::/EFI/Microsoft/Boot ::/EFI/BOOT \
        ::/EFI/Microsoft/Boot/Fonts ::/EFI/Microsoft/Boot/en-US
    fat mcopy "$image" "$start" "$files/bootmgfw.efi" "$files/bootmgr.efi" "$files/memtest.efi" \
        "$files/BCD" "$files/BCD.LOG" "$files/boot.stl" "$files/kd_02_10df.dll" \
        "$files/kdstub.dll" "$files/boot.sdi" "$files/winsipolicy.p7b" ::/EFI/Microsoft/Boot/
    fat mcopy "$image" "$start" "$files/BOOTX64.EFI" "$files/grubx64.efi" ::/EFI/BOOT/
    fat mdel "$image" "$start" ::/EFI/BOOT/grubx64.efi
    rm -rf "$files"
}

# A Windows volume as a UEFI installation leaves it: the boot manager and its
# BCD at the root (non-resident, below a root with $INDEX_ALLOCATION), the
# loaders in System32.
windows_files() {
    dummy_file "$1/bootmgr" 9000 W
    mkdir -p "$1/Boot"
    uefi_bcd_store "$1/Boot/BCD"
    dummy_file "$1/Windows/System32/winload.efi" 3300 E
    dummy_file "$1/Windows/System32/winload.exe" 3100 X
}

# The System Reserved volume after \bootmgr was lost: the BCD and its language files.
system_reserved_files() {
    mkdir -p "$1/Boot"
    bios_bcd_store "$1/Boot/BCD"
    dummy_file "$1/Boot/en-US/bootmgr.exe.mui" 800 U
}

# winload.exe with 40 hard links, as the component store keeps copies: its names
# no longer fit its record, libntfs-3g gives it an $ATTRIBUTE_LIST and moves its
# $DATA to an extension record.
linked_windows_files() {
    dummy_file "$1/Windows/System32/winload.exe" 3100 X
    mkdir -p "$1/Windows/WinSxS/Backup"
    local n
    for n in $(seq 1 40); do
        ln "$1/Windows/System32/winload.exe" "$1/Windows/WinSxS/Backup/winload-$n.exe"
    done
}

make_xp() {
    local image=xp.img start=63 size=8001 files=xp.files
    make_one_partition_disk "$image" "$start" "$size" "type=6, bootable"
    make_fat "$image" "$start" "$size" -F 16 -s 1 -n XP -i 0C0FFEE0
    rm -rf "$files"
    dummy_file "$files/NTLDR" 2500 N
    dummy_file "$files/NTDETECT.COM" 1400 D
    printf '[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n' \
        >"$files/boot.ini"
    fat mcopy "$image" "$start" "$files/NTLDR" "$files/NTDETECT.COM" "$files/boot.ini" ::/
    fat mattrib "$image" "$start" +h +s +r ::/NTLDR ::/NTDETECT.COM ::/boot.ini
    rm -rf "$files"
    dump_table "$image"
}

# The identifying bytes of Windows 8 to 11 NTFS boot code (at 0x80 and 0x110) in
# the NTFS boot sectors at the sectors given: the boot sector and its backup.
put_windows_ntfs_code() {
    local image=$1 sector
    shift
    for sector in "$@"; do
        printf '\x55\xaa\x75\x06' | dd of="$image" bs=1 seek=$((sector * 512 + 0x80)) \
            conv=notrunc status=none
        printf '\x0a\x13' | dd of="$image" bs=1 seek=$((sector * 512 + 0x110)) conv=notrunc \
            status=none
    done
}

make_windows_bios() {
    local image=windows-bios.img reserved=2048 reserved_size=3072 windows=5120 windows_size=3072
    rm -f "$image"
    truncate -s $(((windows + windows_size) * 512)) "$image"
    sfdisk --quiet --no-reread --no-tell-kernel "$image" <<EOF
label: dos
label-id: 0x3b10500d
unit: sectors

start=$reserved, size=$reserved_size, type=7, bootable
start=$windows, size=$windows_size, type=7
EOF
    make_wim reserved.wim system_reserved_files
    make_wim windows.wim linked_windows_files
    make_ntfs "$image" "$reserved" "$reserved_size" "System Reserved" reserved.wim
    make_ntfs "$image" "$windows" "$windows_size" Windows windows.wim
    rm -f reserved.wim windows.wim
    put_windows_ntfs_code "$image" "$reserved" $((reserved + reserved_size - 1))
    dump_table "$image"
}

# The boot code area, bytes 0 to 439, of IMAGE's MBR from FILE; the partition
# table and the disk signature stay.
put_mbr_code() {
    dd if="$2" of="$1" bs=440 count=1 conv=notrunc status=none
}

# GRUB 2 as grub-install leaves a BIOS disk: boot.img in the MBR, and the core
# image from the sector that boot.img names at 0x5C (64 bits; 1 as shipped).
make_grub2() {
    local image=grub2.img start=2048 size=14336
    make_one_partition_disk "$image" "$start" "$size" "type=6, bootable"
    make_fat "$image" "$start" "$size" -F 16 -s 1 -n GRUB2 -i 62B20000
    dummy_file grub2.normal.mod 1500 N
    fat mmd "$image" "$start" ::/boot ::/boot/grub ::/boot/grub/i386-pc
    fat mcopy "$image" "$start" grub2.normal.mod ::/boot/grub/i386-pc/normal.mod
    rm -f grub2.normal.mod
    put_mbr_code "$image" "$grub_images/boot.img"
    local core
    core=$(od -An -t u8 -j 92 -N 8 "$grub_images/boot.img" | tr -d ' ')
    dd if="$grub_images/diskboot.img" of="$image" bs=512 seek="$core" conv=notrunc status=none
    dump_table "$image"
}

make_syslinux() {
    local image=syslinux.img start=2048 size=14336
    make_one_partition_disk "$image" "$start" "$size" "type=6, bootable"
    make_fat "$image" "$start" "$size" -F 16 -s 1 -n SYSLINUX -i 5151C0DE
    put_mbr_code "$image" "$syslinux_images/mbr.bin"
    dump_table "$image"
}

make_syslinux_gpt() {
    local image=syslinux-gpt.img
    rm -f "$image"
    truncate -s 4M "$image"
    printf 'start=2048, size=4096, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n' |
        sfdisk --quiet --label gpt --no-reread --no-tell-kernel "$image"
    put_mbr_code "$image" "$syslinux_images/gptmbr.bin"
    dump_table "$image"
}

make_install_mbr() {
    local image=install-mbr.img start=2048 size=8192
    make_one_partition_disk "$image" "$start" "$size" "type=7"
    make_ntfs "$image" "$start" "$size" INSTALLMBR
    quietly install-mbr "$image"
    dump_table "$image"
}

make_stale() {
    local image=stale.img fat=2048 exfat=18432 size=16384
    rm -f "$image"
    truncate -s $(((exfat + size) * 512)) "$image"
    printf 'start=%s, size=%s, type=7\nstart=%s, size=%s, type=7\n' "$fat" "$size" "$exfat" \
        "$size" | sfdisk --quiet --label dos --no-reread --no-tell-kernel "$image"
    make_ntfs "$image" "$fat" "$size" OLDNTFS1
    make_ntfs "$image" "$exfat" "$size" OLDNTFS2
    reformat_in_place "$image" "$fat" "$size" mkfs.fat -F 32 -s 1 -h "$fat" -n NEWFAT32 \
        -i 5A1EFA32
    reformat_in_place "$image" "$exfat" "$size" mkfs.exfat -L NEWEXFAT
    dump_table "$image"
    for start in "$fat" "$exfat"; do
        printf '\0\0' | dd of="$image" bs=1 seek=$((start * 512 + 510)) conv=notrunc status=none
    done
}

make_4kn_gpt() {
    local image=4kn-gpt.img
    rm -f "$image"
    truncate -s 64M "$image"
    fdisk_4096 "$image" 'g\nn\n1\n256\n+8M\nt\nC12A7328-F81F-11D2-BA4B-00A0C93EC93B\nn\n2\n\n+16M\nt\n2\nEBD0A0A2-B9E5-4433-87C0-68B6B72699C7\nw\n'
    quietly mkfs.fat -F 32 -S 4096 -s 1 --offset=256 -h 256 -n ESP4K -i E5F14096 "$image" 8192
    make_4096 "$image" 2304 4096 mkntfs -F -Q -s 4096 -p 2304 -H 255 -S 63 -L DATA4K
}

make_4kn_mbr() {
    local image=4kn-mbr.img
    rm -f "$image"
    truncate -s 80M "$image"
    fdisk_4096 "$image" 'o\nn\np\n1\n256\n+16M\nt\n7\nn\np\n2\n\n+16M\nt\n2\n7\nn\ne\n3\n\n\nn\n\n+24M\nt\n5\ne\nn\n\n\nt\n6\n83\nw\n'
    make_4096 "$image" 256 4096 mkntfs -F -Q -s 4096 -p 256 -H 255 -S 63 -L NTFS4K
    cc -shared -fPIC -o sector_size_shim.so "$here/sector_size_shim.c" -ldl
    LD_PRELOAD=$PWD/sector_size_shim.so make_4096 "$image" 4352 4096 mkfs.exfat -L EXFAT4K
    rm -f sector_size_shim.so
    quietly mkfs.fat -F 16 -S 4096 -s 1 --offset=8704 -h 8704 -n FAT16K -i F1640960 "$image" 24576
}

# The files of a Debian root volume: a kernel and its initrd in /boot, GRUB's
# configuration as update-grub writes it (the default entry by number, an older
# kernel in a submenu), grubenv by grub-editenv, GRUB's BIOS modules and the
# fstab of the installer. KERNEL is the default entry's version.
linux_root_tree() {
    local tree=$1 root_uuid=$2 esp_uuid=$3 swap_uuid=$4 kernel=6.1.0-13-amd64 old=6.1.0-12-amd64
    rm -rf "$tree"
    dummy_file "$tree/boot/vmlinuz-$kernel" 7300 V
    dummy_file "$tree/boot/initrd.img-$kernel" 9100 I
    dummy_file "$tree/boot/vmlinuz-$old" 7200 V
    dummy_file "$tree/boot/initrd.img-$old" 9000 I
    dummy_file "$tree/boot/grub/i386-pc/normal.mod" 1500 N
    dummy_file "$tree/boot/grub/x86_64-efi/normal.mod" 1500 N
    mkdir -p "$tree/etc"
    grub-editenv "$tree/boot/grub/grubenv" create
    local entry
    entry() { # TITLE ID VERSION
        cat <<ENTRY
menuentry '$1' --class debian --class gnu-linux --class os \$menuentry_id_option '$2' {
	load_video
	insmod gzio
	insmod part_gpt
	insmod ext2
	search --no-floppy --fs-uuid --set=root $root_uuid
	echo	'Loading Linux $3 ...'
	linux	/boot/vmlinuz-$3 root=UUID=$root_uuid ro  quiet
	echo	'Loading initial ramdisk ...'
	initrd	/boot/initrd.img-$3
}
ENTRY
    }
    {
        printf '%s\n' '#' '# DO NOT EDIT THIS FILE' '#' \
            'if [ -s $prefix/grubenv ]; then' '  load_env' 'fi' 'set default="0"' \
            'if [ x"${feature_menuentry_id}" = xy ]; then' '  menuentry_id_option="--id"' \
            'else' '  menuentry_id_option=""' 'fi' 'set timeout=5'
        entry "Debian GNU/Linux" "gnulinux-simple-$root_uuid" "$kernel"
        echo "submenu 'Advanced options for Debian GNU/Linux' \$menuentry_id_option 'gnulinux-advanced-$root_uuid' {"
        entry "Debian GNU/Linux, with Linux $old" "gnulinux-$old-advanced-$root_uuid" "$old" |
            sed 's/^/\t/'
        echo "}"
    } >"$tree/boot/grub/grub.cfg"
    cat >"$tree/etc/fstab" <<FSTAB
# /etc/fstab: static file system information.
# <file system> <mount point>   <type>  <options>       <dump>  <pass>
UUID=$root_uuid /               ext4    errors=remount-ro 0       1
UUID=$esp_uuid  /boot/efi       vfat    umask=0077      0       1
UUID=$swap_uuid none            swap    sw              0       0
/dev/sr0        /media/cdrom0   udf,iso9660 user,noauto 0       0
FSTAB
}

# An ext4 volume made by mke2fs from TREE, copied into IMAGE at sector START.
make_ext4() {
    local image=$1 start=$2 count=$3 label=$4 uuid=$5 tree=$6
    local part="$image.ext4.part"
    rm -f "$part"
    truncate -s $((count * 512)) "$part"
    quietly mke2fs -q -F -t ext4 -b 4096 -L "$label" -U "$uuid" -E root_owner=0:0 -d "$tree" "$part"
    dd if="$part" of="$image" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
}

# The first sector and size of GPT entry N of IMAGE, as sgdisk tells them.
gpt_entry_place() {
    sgdisk -i "$2" "$1" | awk '/^First sector/ {s=$3} /^Partition size/ {z=$3} END {print s, z}'
}

make_dualboot() {
    local image=dualboot.img tree=dualboot.tree files=dualboot.esp
    local root_uuid=0d15b007-2024-4e4e-8a1e-00000000e404 esp_uuid=D0A1-B007
    local swap_uuid=5a5a5a5a-0000-4000-8000-00000000babe old_swap=5a5a5a5a-0000-4000-8000-0000000001d5
    rm -f "$image"
    truncate -s 128M "$image"
    quietly sgdisk -o -U D0A1B007-0000-4000-8000-0000000D0A1B \
        -n 1:2048:+73728 -t 1:ef00 -c 1:"EFI System Partition" \
        -n 2:0:+32768 -t 2:0c01 -c 2:"Microsoft reserved partition" \
        -n 3:0:+32768 -t 3:0700 -c 3:"Basic data partition" \
        -n 4:0:+98304 -t 4:8304 -c 4:"Linux root" \
        -n 5:0:+16384 -t 5:8200 -c 5:"Linux swap" \
        -u 1:11111111-1111-4111-8111-111111111111 -u 3:33333333-3333-4333-8333-333333333333 \
        -u 4:d0a1b007-4444-4444-8444-444444444444 "$image"
    local start size
    read -r start size < <(gpt_entry_place "$image" 1)
    make_fat "$image" "$start" "$size" -F 32 -s 1 -n EFI -i "${esp_uuid/-/}"
    local esp=$start
    rm -rf "$files"
    dummy_file "$files/shimx64.efi" 2600 S
    dummy_file "$files/grubx64.efi" 2200 G
    dummy_file "$files/mmx64.efi" 1800 M
    printf '%s\n' "search.fs_uuid $root_uuid root hd0,gpt4" "set prefix=(\$root)'/boot/grub'" \
        'configfile $prefix/grub.cfg' >"$files/grub.cfg"
    dummy_file "$files/bootmgfw.efi" 2100 M
    uefi_bcd_store "$files/BCD"
    fat mmd "$image" "$esp" ::/EFI ::/EFI/debian ::/EFI/Microsoft ::/EFI/Microsoft/Boot
    fat mcopy "$image" "$esp" "$files/shimx64.efi" "$files/grubx64.efi" "$files/mmx64.efi" \
        "$files/grub.cfg" ::/EFI/debian/
    fat mcopy "$image" "$esp" "$files/bootmgfw.efi" "$files/BCD" ::/EFI/Microsoft/Boot/
    rm -rf "$files"
    read -r start size < <(gpt_entry_place "$image" 3)
    make_wim dualboot-windows.wim windows_files
    make_ntfs "$image" "$start" "$size" Windows dualboot-windows.wim
    rm -f dualboot-windows.wim
    linux_root_tree "$tree" "$root_uuid" "$esp_uuid" "$old_swap"
    read -r start size < <(gpt_entry_place "$image" 4)
    make_ext4 "$image" "$start" "$size" debian "$root_uuid" "$tree"
    rm -rf "$tree"
    read -r start size < <(gpt_entry_place "$image" 5)
    local part="$image.swap.part"
    rm -f "$part"
    truncate -s $((size * 512)) "$part"
    quietly mkswap -U "$swap_uuid" -L swap "$part"
    dd if="$part" of="$image" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part"
    sgdisk -p "$image" >dualboot.sgdisk
}

# The default entry's kernel is removed by debugfs after mke2fs wrote it, as an
# interrupted upgrade leaves /boot.
make_linux_bios() {
    local image=linux-bios.img tree=linux-bios.tree start=2048 size=65536
    local root_uuid=b105b105-0000-4000-8000-0000000000e4
    make_one_partition_disk "$image" "$start" "$size" "type=83, bootable"
    linux_root_tree "$tree" "$root_uuid" 0000-0000 b105b105-0000-4000-8000-00000000babe
    sed -i '/\/boot\/efi\|swap/d' "$tree/etc/fstab"
    local part="$image.ext4.part"
    rm -f "$part"
    truncate -s $((size * 512)) "$part"
    quietly mke2fs -q -F -t ext4 -L bios-root -U "$root_uuid" -E root_owner=0:0 -d "$tree" "$part"
    quietly debugfs -w -R "rm /boot/vmlinuz-6.1.0-13-amd64" "$part"
    dd if="$part" of="$image" bs=512 seek="$start" conv=notrunc,sparse status=none
    rm -f "$part" && rm -rf "$tree"
    put_mbr_code "$image" "$grub_images/boot.img"
    local core
    core=$(od -An -t u8 -j 92 -N 8 "$grub_images/boot.img" | tr -d ' ')
    dd if="$grub_images/diskboot.img" of="$image" bs=512 seek="$core" conv=notrunc status=none
    dump_table "$image"
}

make_classic
make_blank
make_unsigned
make_broken_fat32
make_reformatted
make_bitlocker
make_gpt
make_grub2
make_syslinux
make_syslinux_gpt
make_install_mbr
make_stale
make_4kn_gpt
make_4kn_mbr
make_xp
make_windows_bios
make_dualboot
make_linux_bios
