#include "sector.h"

#include <cstdarg>
#include <cstring>

#include "disk_device.h"

FILE* ReportStream = nullptr;
FILE* ConsoleOut = stdout;
FILE* ConsoleIn = stdin;

uint8_t ReferenceSector[SectorSize];

void Report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(ReportStream, format, args);
    va_end(args);
}

void Console(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(ConsoleOut, format, args);
    va_end(args);
}

uint64_t LoadLe(const uint8_t* bytes, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

void LoadPartitionTable(const uint8_t* sector, PartitionEntry table[PartitionEntries]) {
    for (int i = 0; i < PartitionEntries; ++i) {
        const uint8_t* raw = sector + PartitionTableOffset + 16 * i;
        table[i].status = raw[0];
        table[i].type = raw[4];
        table[i].start = LoadLe32(raw + 8);
        table[i].count = LoadLe32(raw + 12);
    }
}

static int AllBytesAre(uint8_t value) {
    for (unsigned i = 0; i < SectorSize; ++i)
        if (SectorBuffer[i] != value)
            return 0;
    return 1;
}

int ClassifySector() {
    if (AllBytesAre(0x00))
        return SectorEmpty;
    if (AllBytesAre(0xF6))
        return SectorFill;
    return SectorData;
}

int HasBootSignature() {
    return SectorBuffer[510] == 0x55 && SectorBuffer[511] == 0xAA;
}

int MatchesReference() {
    for (unsigned i = 0; i < SectorSize; ++i) {
        if (SectorBuffer[i] != ReferenceSector[i]) {
            Console("Compare at %d, %02x != %02x\n", static_cast<int>(i), SectorBuffer[i],
                    ReferenceSector[i]);
            return 0;
        }
    }
    return 1;
}

// One line: "%03x: ", sixteen "%02x ", a blank, the sixteen bytes as text.
static void FormatDumpLine(unsigned offset, const uint8_t* bytes, char line[71]) {
    static const char hex[] = "0123456789abcdef";
    std::snprintf(line, 6, "%03x: ", offset);
    char* at = line + 5;
    for (int i = 0; i < 16; ++i) {
        *at++ = hex[bytes[i] >> 4];
        *at++ = hex[bytes[i] & 15];
        *at++ = ' ';
    }
    *at++ = ' ';
    for (int i = 0; i < 16; ++i)
        *at++ = bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.';
    *at = '\0';
}

void DumpSector() {
    char line[71];
    for (unsigned offset = 0; offset < SectorSize; offset += 16) {
        FormatDumpLine(offset, SectorBuffer + offset, line);
        Report("%s\n", line);
    }
}

int DumpFallbackSector(int disk) {
    SeekSector(FallbackSector);
    int ok = ReadSector();
    if (ok)
        DumpSector();
    else
        Report("Reading sector 63 (disk %d) failed.\n", disk);
    return ok;
}
