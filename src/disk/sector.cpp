#include "disk/sector.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "output/output.h"

// Every byte equals the first one when the buffer equals itself moved by one.
static bool AllBytesAre(uint8_t value) {
    return SectorBuffer[0] == value &&
           std::memcmp(SectorBuffer, SectorBuffer + 1, DriveSectorSize() - 1) == 0;
}

int ClassifySector() {
    if (AllBytesAre(0x00))
        return SectorEmpty;
    if (AllBytesAre(0xF6))
        return SectorFill;
    return SectorData;
}

bool HasBootSignature() {
    return SectorBuffer[510] == 0x55 && SectorBuffer[511] == 0xAA;
}

bool MatchesReference(const uint8_t* reference) {
    const unsigned size = DriveSectorSize();
    if (std::memcmp(SectorBuffer, reference, size) == 0)
        return true;
    const auto differ = std::mismatch(SectorBuffer, SectorBuffer + size, reference);
    const unsigned i = static_cast<unsigned>(differ.first - SectorBuffer);
    Console("Compare at %d, %02x != %02x\n", static_cast<int>(i), SectorBuffer[i], reference[i]);
    return false;
}

// One line: "%03x: ", sixteen "%02x ", a blank, the sixteen bytes as text.
// Offsets stay below 4096, three hexadecimal digits.
static void FormatDumpLine(unsigned offset, const uint8_t* bytes, char line[71]) {
    static const char hex[] = "0123456789abcdef";
    char* at = line;
    for (int shift = 8; shift >= 0; shift -= 4)
        *at++ = hex[(offset >> shift) & 15];
    *at++ = ':';
    *at++ = ' ';
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
    const unsigned size = DriveSectorSize();
    for (unsigned offset = 0; offset < size; offset += 16) {
        FormatDumpLine(offset, SectorBuffer + offset, line);
        ReportLine(line);
    }
}

void DumpSectorOrSayEmpty() {
    if (ClassifySector() == SectorEmpty)
        Report("Sector is all zero.\n");
    else
        DumpSector();
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
