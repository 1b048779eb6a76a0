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

// The detail and reserved-sector reports of one drive. Returns 0 when a report
// could not be written.
int ReportDriveDetails(int disk) {
    int ok = 1;
    char name[32];
    std::snprintf(name, sizeof name, "BPB%dlist.txt", disk);
    if (OpenReport(name)) {
        RunDetailPass(disk);
        ok &= CloseReport(name);
    } else {
        ok = 0;
    }
    std::snprintf(name, sizeof name, "Zero%dlist.txt", disk);
    if (OpenReport(name)) {
        ScanReservedSectors(disk);
        ok &= CloseReport(name);
    } else {
        ok = 0;
    }
    return ok;
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
        if (DiskInfoTable[disk].mbrRead)
            ok &= ReportDriveDetails(disk);
    Console("Bootsieve exit.\n");
    return ok ? 0 : 1;
}
