#include "disk/sector.h"

#include <cstdio>

#include "output/output.h"

static bool AllBytesAre(uint8_t value) {
    for (unsigned i = 0; i < DriveSectorSize(); ++i)
        if (SectorBuffer[i] != value)
            return false;
    return true;
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
    for (unsigned i = 0; i < DriveSectorSize(); ++i) {
        if (SectorBuffer[i] != reference[i]) {
            Console("Compare at %d, %02x != %02x\n", static_cast<int>(i), SectorBuffer[i],
                    reference[i]);
            return false;
        }
    }
    return true;
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
    for (unsigned offset = 0; offset < DriveSectorSize(); offset += 16) {
        FormatDumpLine(offset, SectorBuffer + offset, line);
        Report("%s\n", line);
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
