#include "disk_report.h"

#include <cinttypes>

#include "boot_code.h"
#include "disk_device.h"
#include "partition_table.h"
#include "partition_walk.h"
#include "sector.h"

DiskInfo DiskInfoTable[DriveCount];

int RunSummaryPass() {
    int opened = 0;
    for (int disk = 0; disk < DriveCount; ++disk) {
        DiskInfoTable[disk].mbrRead = 0;
        int open = OpenDisk(disk);
        Console("A: Process disk %d, Open %d\n", disk, open);
        if (open) {
            ++opened;
            DiskInfoTable[disk].mbrRead = ReportDisk(disk, 0);
        }
    }
    return opened;
}

void RunDetailPass(int disk) {
    int open = OpenDisk(disk);
    Console("B: Process disk %d, Open %d\n", disk, open);
    if (open)
        ReportDisk(disk, 1);
}

void PrintDiskHeader(int disk, int detail) {
    DiskInfo& info = DiskInfoTable[disk];
    if (detail == 0)
        info.sectorCount = QueryDiskSize(&info.size1000, &info.size1024);
    const char* suffix = "";
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

static void ReportBootCode() {
    int type = IdentifyBootCode();
    if (type)
        Report("MBRcode type %d\n", type);
    else
        Report("MBRcode compare failed\n");
}

static void ReportSignedMbr(int disk, int detail) {
    LoadPartitionTable(SectorBuffer, MbrPartitionTable);
    ListPartitionTable(MbrPartitionTable, DiskInfoTable[disk].sectorCount);
    WalkPartitions(disk, detail);
    Report("\n");
}

int ReportDisk(int disk, int detail) {
    PrintDiskHeader(disk, detail);
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
        if (detail) {
            DumpSector();
            ReportBootCode();
        }
        if (HasBootSignature()) {
            ReportSignedMbr(disk, detail);
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
