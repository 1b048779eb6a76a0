// Bootsieve: reports the MBR, the partition tables, the boot sectors with their
// backups and sectors 1 to 62 of physical drives 0 to 9.
#include <cstdio>

#include "disk_report.h"
#include "report_file.h"
#include "reserved_scan.h"
#include "sector.h"

namespace {

void HintNoDrive() {
    std::fprintf(stderr, "Bootsieve: no drive could be opened. Raw disks need administrator "
                         "rights (Windows) or root (Linux); BOOTSIEVE_DRIVES can name disk "
                         "images instead.\n");
}

// Creates the report named by nameFormat and the drive number, and fills it.
// Returns 0 when the report could not be created or written.
int WriteDriveReport(const char* nameFormat, int disk, void (*fill)(int disk)) {
    char name[32];
    std::snprintf(name, sizeof name, nameFormat, disk);
    if (!OpenReport(name))
        return 0;
    fill(disk);
    return CloseReport(name);
}

} // namespace

int main() {
    Console("%s\n", Banner);
    if (!OpenReport("Bootsieve.txt"))
        return 1;
    int opened = RunSummaryPass();
    int ok = CloseReport("Bootsieve.txt");
    if (opened == 0) {
        std::fflush(ConsoleOut);
        HintNoDrive();
    }
    for (int disk = 0; disk < DriveCount; ++disk)
        if (DiskInfoTable[disk].mbrRead) {
            ok &= WriteDriveReport("BPB%dlist.txt", disk, RunDetailPass);
            ok &= WriteDriveReport("Zero%dlist.txt", disk, ScanReservedSectors);
        }
    Console("Bootsieve exit.\n");
    return ok ? 0 : 1;
}
