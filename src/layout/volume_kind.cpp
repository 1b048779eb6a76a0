#include "layout/volume_kind.h"

#include <cstring>

#include "disk/byte_order.h"
#include "disk/disk_device.h"

namespace {

constexpr unsigned OemIdOffset = 0x03;
constexpr unsigned BytesPerSectorOffset = 0x0B;
constexpr unsigned SectorsPerFat16Offset = 0x16; // 0 on FAT32
constexpr unsigned FatTypeOffset = 0x36;
constexpr unsigned Fat32TypeOffset = 0x52;

bool TextAt(const uint8_t* sector, unsigned offset, const char* text) {
    return std::memcmp(sector + offset, text, std::strlen(text)) == 0;
}

// exFAT zeroes the whole of the old BPB area, bytes 11 to 63, so that no FAT
// driver mistakes it for one of its own.
bool ExFatBpbAreaIsZero(const uint8_t* sector) {
    for (unsigned i = 11; i < 64; ++i)
        if (sector[i] != 0)
            return false;
    return true;
}

bool HasFat32Bpb(const uint8_t* sector) {
    return LoadLe16(sector + SectorsPerFat16Offset) == 0 &&
           TextAt(sector, Fat32TypeOffset, "FAT32   ");
}

bool HasFatBpb(const uint8_t* sector) {
    return TextAt(sector, FatTypeOffset, "FAT12   ") || TextAt(sector, FatTypeOffset, "FAT16   ") ||
           TextAt(sector, FatTypeOffset, "FAT     ");
}

} // namespace

VolumeKind IdentifyVolumeContent(const uint8_t* sector) {
    if (TextAt(sector, OemIdOffset, "NTFS    "))
        return VolumeKind::Ntfs;
    if (TextAt(sector, OemIdOffset, "EXFAT   ") && ExFatBpbAreaIsZero(sector))
        return VolumeKind::ExFat;
    if (TextAt(sector, OemIdOffset, "-FVE-FS-"))
        return VolumeKind::BitLocker;
    if (HasFat32Bpb(sector))
        return VolumeKind::Fat32;
    if (HasFatBpb(sector))
        return VolumeKind::Fat;
    return VolumeKind::Unknown;
}

const char* VolumeKindName(VolumeKind kind) {
    switch (kind) {
    case VolumeKind::Ntfs: return "NTFS";
    case VolumeKind::ExFat: return "exFAT";
    case VolumeKind::BitLocker: return "BitLocker";
    case VolumeKind::Fat32: return "FAT32";
    case VolumeKind::Fat: return "FAT12/16";
    case VolumeKind::Unknown: break;
    }
    return "unknown";
}

unsigned SaysBytesPerSector(const uint8_t* sector, VolumeKind kind) {
    if (kind != VolumeKind::ExFat)
        return LoadLe16(sector + BytesPerSectorOffset);
    const unsigned shift = sector[ExFatBytesPerSectorShiftOffset];
    return shift < 16 ? 1u << shift : 0;
}

bool IsNtfsBootSector(const uint8_t* sector) {
    return TextAt(sector, OemIdOffset, "NTFS    ") &&
           SaysBytesPerSector(sector, VolumeKind::Ntfs) == DriveSectorSize();
}

bool IsFat32BootSector(const uint8_t* sector) {
    return SaysBytesPerSector(sector, VolumeKind::Fat32) == DriveSectorSize() &&
           HasFat32Bpb(sector);
}

bool IsExFatBootSector(const uint8_t* sector) {
    return IdentifyVolumeContent(sector) == VolumeKind::ExFat &&
           SaysBytesPerSector(sector, VolumeKind::ExFat) == DriveSectorSize();
}
