#include "layout/gpt_header.h"

#include <cstring>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "layout/crc32.h"
#include "output/printable.h"

namespace {

constexpr unsigned NameUnits = 36;

uint32_t HeaderCrc(const uint8_t* sector, unsigned size) {
    uint8_t copy[MaxSectorSize];
    std::memcpy(copy, sector, size);
    std::memset(copy + 0x10, 0, 4);
    return Crc32(copy, size);
}

} // namespace

GptHeaderProblem CheckGptHeader(const uint8_t* s, uint64_t readAt, GptHeader* h) {
    *h = GptHeader{};
    if (std::memcmp(s, "EFI PART", 8) != 0)
        return GptHeaderProblem::Signature;
    h->revision = LoadLe32(s + 0x08);
    h->headerSize = LoadLe32(s + 0x0C);
    h->headerCrc = LoadLe32(s + 0x10);
    h->thisSector = LoadLe64(s + 0x18);
    h->otherSector = LoadLe64(s + 0x20);
    h->firstUsable = LoadLe64(s + 0x28);
    h->lastUsable = LoadLe64(s + 0x30);
    std::memcpy(h->diskGuid, s + 0x38, GuidSize);
    h->entriesSector = LoadLe64(s + 0x48);
    h->entryCount = LoadLe32(s + 0x50);
    h->entrySize = LoadLe32(s + 0x54);
    h->entriesCrc = LoadLe32(s + 0x58);
    if (h->headerSize < GptMinHeaderSize || h->headerSize > DriveSectorSize())
        return GptHeaderProblem::Size;
    h->computedCrc = HeaderCrc(s, h->headerSize);
    if (h->computedCrc != h->headerCrc)
        return GptHeaderProblem::Crc;
    if (h->thisSector != readAt)
        return GptHeaderProblem::WrongSector;
    return GptHeaderProblem::None;
}

uint64_t EntryArrayBytes(const GptHeader& header) {
    return uint64_t{header.entryCount} * header.entrySize;
}

bool EntryArrayIsPlausible(const GptHeader& header) {
    return header.entrySize >= GptEntryLayoutSize && header.entrySize % GptEntryLayoutSize == 0 &&
           EntryArrayBytes(header) <= GptMaxEntryArrayBytes;
}

uint64_t EntryArraySectors(const GptHeader& header) {
    return (EntryArrayBytes(header) + DriveSectorSize() - 1) / DriveSectorSize();
}

GptEntry LoadGptEntry(const uint8_t* array, const GptHeader& header, unsigned number) {
    const uint8_t* e = array + uint64_t{number - 1} * header.entrySize;
    GptEntry entry{};
    entry.number = number;
    std::memcpy(entry.typeGuid, e, GuidSize);
    std::memcpy(entry.uniqueGuid, e + 0x10, GuidSize);
    entry.first = LoadLe64(e + 0x20);
    entry.last = LoadLe64(e + 0x28);
    entry.attributes = LoadLe64(e + 0x30);
    entry.name = PrintableUtf16(e + 0x38, NameUnits, PrintAs::Text);
    return entry;
}
