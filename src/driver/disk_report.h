// The two passes over drives 0 to 9 and the report of one drive.
#pragma once

#include <cstdint>

#include "disk/drive_list.h"
#include "driver/version.h"
#include "output/pass.h"

constexpr const char* Banner = "_______/ Bootsieve version " BOOTSIEVE_VERSION " \\______";

struct DiskInfo {
    uint64_t sectorCount;
    uint64_t size1000;                // size in thousands of bytes
    uint64_t size1024;                // size in KiB
    unsigned sectorSize = 512;        // the drive's logical sector size
    unsigned tableFitsSectorSize = 0; // the other size its table was made for, or 0
    bool mbrRead;                     // the summary pass read the MBR sector
};

extern DiskInfo DiskInfoTable[DriveCount];

// Returns the number of drives that opened.
int RunSummaryPass();
void RunDetailPass(int disk);
// The report of the open drive, which it closes. Returns the result of the last
// read: the MBR's, or in the detail pass sector 63's for an all-zero MBR.
int ReportDisk(int disk, Pass pass);
void PrintDiskHeader(int disk);
