#include "volume/exfat.h"

#include <cstdio>
#include <cstring>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/volume_kind.h"
#include "output/output.h"

namespace {

constexpr unsigned BootRegionSectors = 12; // the main region; its backup follows
constexpr unsigned ChecksumSector = 11;

enum class ExFatField { U64, U32, U8, Hex32, Revision, Hex16, Hex8 };

struct ExFatRow {
    uint8_t offset;
    ExFatField kind;
    const char* label;
};

const ExFatRow ExFatRows[] = {
    {0x40, ExFatField::U64, "Partition offset"},
    {0x48, ExFatField::U64, "Volume length"},
    {0x50, ExFatField::U32, "FAT offset"},
    {0x54, ExFatField::U32, "FAT length"},
    {0x58, ExFatField::U32, "Cluster heap offset"},
    {0x5C, ExFatField::U32, "Cluster count"},
    {0x60, ExFatField::U32, "First cluster of root directory"},
    {0x64, ExFatField::Hex32, "Volume serial number"},
    {0x68, ExFatField::Revision, "File system revision"},
    {0x6A, ExFatField::Hex16, "Volume flags"},
    {0x6C, ExFatField::U8, "Bytes per sector shift"},
    {0x6D, ExFatField::U8, "Sectors per cluster shift"},
    {0x6E, ExFatField::U8, "Number of FATs"},
    {0x6F, ExFatField::Hex8, "Drive select"},
    {0x70, ExFatField::U8, "Percent in use"},
};

void FormatExFatValue(const ExFatRow& row, char* text, size_t size) {
    const uint8_t* at = SectorBuffer + row.offset;
    switch (row.kind) {
    case ExFatField::U64: std::snprintf(text, size, "%llu", Ull(LoadLe64(at))); break;
    case ExFatField::U32: std::snprintf(text, size, "%u", LoadLe32(at)); break;
    case ExFatField::U8: std::snprintf(text, size, "%u", at[0]); break;
    case ExFatField::Hex32: std::snprintf(text, size, "%08X", LoadLe32(at)); break;
    case ExFatField::Revision: std::snprintf(text, size, "%u.%02u", at[1], at[0]); break;
    case ExFatField::Hex16: std::snprintf(text, size, "%04X", LoadLe16(at)); break;
    case ExFatField::Hex8: std::snprintf(text, size, "%02X", at[0]); break;
    }
}

// Reads the 24 sectors of both boot regions into region; false after reporting
// the first sector that could not be read.
bool ReadBootRegions(const PartitionPlace& place, uint8_t* region) {
    SeekSector(place.first);
    for (unsigned i = 0; i < 2 * BootRegionSectors; ++i) {
        if (!ReadSector()) {
            Report("Reading exFAT boot region sector %llu (disk %d) failed.\n",
                   Ull(place.first + i), place.disk);
            return false;
        }
        std::memcpy(region + i * DriveSectorSize(), SectorBuffer, DriveSectorSize());
    }
    return true;
}

void CompareBackupRegion(const PartitionPlace& place, const uint8_t* region) {
    const unsigned size = DriveSectorSize();
    const uint8_t* backup = region + BootRegionSectors * size;
    for (unsigned i = 0; i < BootRegionSectors; ++i) {
        if (std::memcmp(region + i * size, backup + i * size, size) == 0)
            continue;
        const uint64_t sector = place.first + BootRegionSectors + i;
        Report("exFAT backup boot region differs from the main one at sector %llu.\n", Ull(sector));
        if (InDetail(place)) {
            std::memcpy(SectorBuffer, backup + i * size, size);
            DumpSector();
        }
        return;
    }
    if (InDetail(place))
        Report(">> Disk %d Backup boot region (sector %llu)      Backup boot region is OK\n",
               place.disk, Ull(place.first + BootRegionSectors));
}

} // namespace

uint32_t ExFatBootChecksum(const uint8_t* sectors, unsigned bytesPerSector) {
    uint32_t sum = 0;
    for (unsigned i = 0; i < ChecksumSector * bytesPerSector; ++i) {
        if (i == 106 || i == 107 || i == 112)
            continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + sectors[i];
    }
    return sum;
}

void DecodeExFatBootSector(int disk) {
    Report(">> Disk %d exFAT boot sector decoded:\n", disk);
    for (const ExFatRow& row : ExFatRows) {
        char value[32];
        FormatExFatValue(row, value, sizeof value);
        Report("%02x %-33s: %s\n", row.offset, row.label, value);
    }
    Report("\n");
}

void CheckExFatBootRegion(const PartitionPlace& place) {
    const unsigned shift = SectorBuffer[ExFatBytesPerSectorShiftOffset];
    if (shift < 9 || shift > 12) {
        Report("exFAT bytes-per-sector shift %u is not valid; boot region not checked.\n", shift);
        return;
    }
    // The region is read in the drive's sectors: a volume made for others is not.
    if ((1u << shift) != DriveSectorSize()) {
        Report("exFAT volume with %u-byte sectors; boot region not checked.\n", 1u << shift);
        return;
    }
    // The backup region would be read from whatever follows a smaller partition.
    if (place.count < 2 * BootRegionSectors) {
        Report("exFAT partition of %llu sectors is too small for its boot region and its "
               "backup.\n",
               Ull(place.count));
        return;
    }
    static uint8_t region[2 * BootRegionSectors * MaxSectorSize];
    if (!ReadBootRegions(place, region))
        return;
    const uint32_t computed = ExFatBootChecksum(region, DriveSectorSize());
    const uint32_t stored = LoadLe32(region + ChecksumSector * DriveSectorSize());
    if (computed != stored)
        Report("exFAT boot checksum is %08X, sector 11 holds %08X. (sector %llu)\n", computed,
               stored, Ull(place.first + ChecksumSector));
    CompareBackupRegion(place, region);
}
