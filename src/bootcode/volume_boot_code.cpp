#include "bootcode/volume_boot_code.h"

#include <iterator>

#include "disk/disk_device.h"
#include "output/output.h"

namespace {

constexpr uint8_t Fat = VolumeKindBit(VolumeKind::Fat);
constexpr uint8_t Fat32 = VolumeKindBit(VolumeKind::Fat32);
constexpr uint8_t Ntfs = VolumeKindBit(VolumeKind::Ntfs);
constexpr uint8_t AnyKind = Fat | Fat32 | Ntfs;

// The boot code begins after the BPB: at 0x3E on FAT12/16, 0x5A on FAT32 and
// 0x54 on NTFS; it ends before the signature at 0x1FE.
constexpr uint16_t CodeEnd = 0x1FD;

} // namespace

// First match wins. Windows tells its releases apart at 0x80 (FAT32) and 0x110
// (NTFS); mkfs.fat and mkntfs write a stub that prints a message.
const VolumeCodeRow VolumeCodeTable[] = {
    {"none (all zero)", Fat, {ZeroFrom(0x3E, CodeEnd)}},
    {"none (all zero)", Fat32, {ZeroFrom(0x5A, CodeEnd)}},
    {"none (all zero)", Ntfs, {ZeroFrom(0x54, CodeEnd)}},
    {"Windows 7 NTFS", Ntfs, {BytesAt(0x80, "55 AA 75 06"), BytesAt(0x110, "28 10")}, LoadsBootmgr},
    {"Windows 8 to 11 NTFS",
     Ntfs,
     {BytesAt(0x80, "55 AA 75 06"), BytesAt(0x110, "0A 13")},
     LoadsBootmgr},
    {"Windows 7 FAT32", Fat32, {BytesAt(0x80, "74 05")}, LoadsBootmgr},
    {"Windows 8 to 11 FAT32", Fat32, {BytesAt(0x80, "F6 C1")}, LoadsBootmgr},
    {"Windows XP FAT32", Fat32, {BytesAt(0x80, "B6 D1")}, LoadsNtldr},
    {"GRUB 2", AnyKind, {BytesAt(0x80, "00 20")}},
    {"Syslinux", AnyKind, {BytesAt(504, "FE 02 B2 3E")}},
    {"not bootable (placeholder message)", AnyKind, {TextAnywhere("This is not a bootable disk.")}},
};

const int VolumeCodeRows = static_cast<int>(std::size(VolumeCodeTable));

const VolumeCodeRow* IdentifyVolumeBootCodeRow(VolumeKind kind) {
    for (const VolumeCodeRow& row : VolumeCodeTable)
        if ((row.kinds & VolumeKindBit(kind)) != 0 && PassesAll(SectorBuffer, row.probes))
            return &row;
    return nullptr;
}

const char* IdentifyVolumeBootCode(VolumeKind kind) {
    const VolumeCodeRow* row = IdentifyVolumeBootCodeRow(kind);
    return row ? row->name : nullptr;
}

void ReportVolumeBootCode(VolumeKind kind) {
    const char* name = IdentifyVolumeBootCode(kind);
    Report("Boot code: %s.\n", name ? name : "not recognised");
}
