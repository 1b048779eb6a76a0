#include "driver/run.h"

#include <cstdio>
#include <cstring>

#include "bootconfig/bcd_report.h"
#include "bootconfig/linux_boot_report.h"
#include "disk/disk_device.h"
#include "disk/platform.h"
#include "driver/disk_report.h"
#include "driver/report_file.h"
#include "firmware/firmware_section.h"
#include "output/output.h"
#include "partition/partition_walk.h"
#include "scan/reserved_scan.h"
#include "volume/backup_boot_sector.h"
#include "volume/backup_restore.h"
#include "volume/boot_files.h"
#include "volume/partition_record.h"

const ReportSink FileReports = {OpenReport, CloseReport};

namespace {

void HintNoDrive() {
    std::fflush(ConsoleOut);
    std::fprintf(stderr, "Bootsieve: no drive could be opened. Raw disks need administrator "
                         "rights (Windows) or root (Linux); BOOTSIEVE_DRIVES can name disk "
                         "images instead.\n");
}

void ResetRunState() {
    for (DiskInfo& info : DiskInfoTable)
        info = DiskInfo{};
    std::memset(SectorBuffer, 0, MaxSectorSize);
    ResetBackupState();
    ResetRestoreState();
    ResetWalkState();
    ResetPartitionRecord();
    SetBootFileLookup(LookUpFileOnPartition);
    SetBcdStoreExaminer(ExamineBcdStore);
    ResetBcdStores();
    SetBootConfigExaminer(ExamineLinuxBootConfig);
    ResetLinuxBootConfig();
}

// Creates the report named by nameFormat and the drive number, and fills it.
bool WriteDriveReport(const ReportSink& reports, const char* nameFormat, int disk,
                      void (*fill)(int disk)) {
    char name[32];
    std::snprintf(name, sizeof name, nameFormat, disk);
    if (!reports.open(name))
        return false;
    fill(disk);
    return reports.close(name);
}

} // namespace

int RunBootsieve(const ReportSink& reports) {
    ResetRunState();
    IgnoreBrokenPipe();
    Console("%s\n", Banner);
    if (!reports.open("Bootsieve.txt"))
        return 1;
    int opened = RunSummaryPass();
    CheckBcdStores();
    WriteFirmwareSection();
    bool ok = reports.close("Bootsieve.txt");
    if (opened == 0)
        HintNoDrive();
    for (int disk = 0; disk < DriveCount; ++disk) {
        if (!DiskInfoTable[disk].mbrRead)
            continue;
        ok &= WriteDriveReport(reports, "BPB%dlist.txt", disk, RunDetailPass);
        ok &= WriteDriveReport(reports, "Zero%dlist.txt", disk, ScanReservedSectors);
    }
    Console("Bootsieve exit.\n");
    return ok ? 0 : 1;
}
