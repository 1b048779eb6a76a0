#include "driver/disk_report.h"

#include <cinttypes>
#include <cstdio>

#include "bootcode/grub_core.h"
#include "bootcode/mbr_boot_code.h"
#include "bootconfig/linux_boot_report.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/sector_size_probe.h"
#include "output/output.h"
#include "partition/active_flags.h"
#include "partition/partition_table.h"
#include "partition/partition_walk.h"
#include "partition/sector_size_fit.h"
#include "volume/partition_record.h"

DiskInfo DiskInfoTable[DriveCount];

int RunSummaryPass() {
    int opened = 0;
    for (int disk = 0; disk < DriveCount; ++disk) {
        DiskInfo& info = DiskInfoTable[disk];
        info = DiskInfo{};
        int open = OpenDiskProbed(disk);
        Console("A: Process disk %d, Open %d\n", disk, open);
        if (open) {
            ++opened;
            info.sectorCount = QueryDiskSize(&info.size1000, &info.size1024);
            info.sectorSize = DriveSectorSize();
            info.tableFitsSectorSize = TableFitsOtherSectorSize();
            info.mbrRead = ReportDisk(disk, Pass::Summary);
        }
    }
    return opened;
}

void RunDetailPass(int disk) {
    int open = OpenDiskProbed(disk);
    Console("B: Process disk %d, Open %d\n", disk, open);
    if (open)
        ReportDisk(disk, Pass::Detail);
}

// The header line's sizes are those the summary pass queried; its suffix names
// a sector size other than 512.
void PrintDiskHeader(int disk) {
    const DiskInfo& info = DiskInfoTable[disk];
    char suffix[32] = "";
    if (info.sectorSize != 512)
        std::snprintf(suffix, sizeof suffix, ", %u-byte sectors", info.sectorSize);
    if (info.size1000 == 0)
        Report("----------------------- Disk %d MBR ---------------------------- %s\n", disk,
               suffix);
    else if (info.size1000 > 1000000)
        Report("----------------------- Disk %d MBR -------------- Size %" PRIu64 " = %" PRIu64
               " GB (%" PRIu64 " GiB)%s\n",
               disk, info.sectorCount, info.size1000 / 1000 / 1000, info.size1024 >> 20, suffix);
    else
        Report("----------------------- Disk %d MBR -------------- Size %" PRIu64 " = %" PRIu64
               " MB (%" PRIu64 " MiB)%s\n",
               disk, info.sectorCount, info.size1000 / 1000, info.size1024 >> 10, suffix);
}

static void ReportSignedMbr(int disk, Pass pass, const MbrBootCode& code, bool otherSectorSize) {
    RecordMbr(pass, disk, SectorBuffer);
    LoadPartitionTable(SectorBuffer, MbrPartitionTable);
    ListPartitionTable(MbrPartitionTable, DiskInfoTable[disk].sectorCount);
    ReportOverlappingEntries(MbrPartitionTable);
    ReportActiveFlags(MbrPartitionTable, code);
    WalkPartitions(disk, pass, DiskInfoTable[disk].sectorCount, otherSectorSize);
    ReportDriveBootConfig(disk, pass, HasTrait(code, LoadsGrubCore));
    Report("\n");
}

int ReportDisk(int disk, Pass pass) {
    const bool detail = pass == Pass::Detail;
    PrintDiskHeader(disk);
    const unsigned fits = DiskInfoTable[disk].tableFitsSectorSize;
    ReportOtherSectorSize(fits, DiskInfoTable[disk].sectorSize);
    SeekSector(0);
    int ok = ReadSector();
    if (!ok) {
        Report("Reading MBR sector (disk %d) failed. (maybe empty cardreader)\n", disk);
    } else if (ClassifySector() == SectorEmpty) {
        Report("MBR sector is all zero.\n");
        if (detail) {
            Report("Sector 63:\n");
            ok = DumpFallbackSector(disk);
        }
    } else {
        const MbrBootCode code = IdentifyMbrBootCode();
        if (detail) {
            DumpSector();
            ReportMbrBootCode(code);
        }
        if (HasTrait(code, LoadsGrubCore))
            CheckGrubCoreImage(disk, pass, DiskInfoTable[disk].sectorCount);
        if (HasBootSignature()) {
            ReportSignedMbr(disk, pass, code, fits != 0);
        } else {
            Report("MBR sector signature is not 0xaa55. (%02x%02x)\n", SectorBuffer[511],
                   SectorBuffer[510]);
            if (detail)
                DumpSector();
        }
    }
    CloseDisk();
    return ok;
}
