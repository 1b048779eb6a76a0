// Drives held in memory, for tests and fuzzing: the backend that replaces the
// system's disks in programs linked with it.
#pragma once

#include <cstdint>
#include <vector>

struct MemoryDrive {
    std::vector<uint8_t> bytes;
    bool present = false;      // absent drives fail to open
    bool readOnly = false;     // writes fail
    bool dropsWrites = false;  // writes and flushes succeed, but nothing is kept
    bool sizeKnown = true;     // the size query answers
    uint64_t reportedSize = 0; // size the query answers with; 0 means bytes.size()
    int opensLeft = -1;        // opens that still succeed; -1 for any number
    unsigned reads = 0;        // read calls made, for counting
    // The logical sector size the drive tells, as a disk does; an image file tells
    // none. A disk of larger sectors takes only whole sectors at multiples of its
    // size, as Windows' disk driver does: anything else fails.
    unsigned sectorSize = 512;
    bool imageFile = false;
};

// Drive n of the in-memory set; drives 0 to 9.
MemoryDrive& MemoryDriveAt(int disk);
void ResetMemoryDrives();
