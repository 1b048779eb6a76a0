// Sector layouts, the checks every analysis applies to SectorBuffer, the hex dump,
// and the two output channels: the report file and the console.
#pragma once

#include <cstdint>
#include <cstdio>

#include "disk_device.h"

#if defined(__MINGW32__)
#define BOOTSIEVE_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define BOOTSIEVE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// The report file open at the moment, and where console lines and answers go.
extern FILE* ReportStream;
extern FILE* ConsoleOut;
extern FILE* ConsoleIn;

void Report(const char* format, ...) BOOTSIEVE_PRINTF(1, 2);
void Console(const char* format, ...) BOOTSIEVE_PRINTF(1, 2);

// Little-endian integer of 1 to 8 bytes at bytes.
uint64_t LoadLe(const uint8_t* bytes, int width);
inline uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(LoadLe(p, 2));
}
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(LoadLe(p, 4));
}

// MBR and extended boot record: boot code 0..439, table at 446, 55 AA at 510.
constexpr unsigned BootCodeSize = 440;
constexpr unsigned PartitionTableOffset = 446;
constexpr int PartitionEntries = 4;

struct PartitionEntry {
    uint8_t status; // 0x80 marks the active partition
    uint8_t type;   // 0 is an empty entry
    uint32_t start; // relative to the sector that holds the table
    uint32_t count;
};

// The four 16-byte entries at offset 446 of sector, entry 1 first.
void LoadPartitionTable(const uint8_t* sector, PartitionEntry table[PartitionEntries]);

// A saved boot sector, compared with its backup.
extern uint8_t ReferenceSector[SectorSize];

enum SectorClass { SectorEmpty = 0, SectorFill = 1, SectorData = -1 };

int ClassifySector();
int HasBootSignature();
// 1 when SectorBuffer equals ReferenceSector; else prints the first difference.
int MatchesReference();
void DumpSector();

// Where the first partition traditionally starts; dumped when the MBR is empty or
// lists no partition, since a boot sector may still be found there.
constexpr uint32_t FallbackSector = 63;

// Reads sector 63 and dumps it, or reports that it could not be read.
int DumpFallbackSector(int disk);
