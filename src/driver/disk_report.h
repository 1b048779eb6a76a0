// The two passes over drives 0 to 9 and the report of one drive.
#pragma once

#include <cstdint>

#include "drive_list.h"

constexpr const char* Banner = "_______/ Bootsieve version 5.0 \\______";

struct DiskInfo {
    uint64_t sectorCount;
    uint64_t size1000; // size in thousands of bytes
    uint64_t size1024; // size in KiB
    int mbrRead;       // 1 when the summary pass read the MBR sector
};

extern DiskInfo DiskInfoTable[DriveCount];

// Returns the number of drives that opened.
int RunSummaryPass();
void RunDetailPass(int disk);
int ReportDisk(int disk, int detail);
void PrintDiskHeader(int disk, int detail);
