#include "layout/volume_identity.h"

#include <cstdio>
#include <cstring>

#include "disk/byte_order.h"
#include "output/printable.h"

namespace {

// Where a FAT boot sector keeps its extended fields: FAT12/16 right after the
// BPB, FAT32 after its own longer one.
struct FatExtendedFields {
    VolumeKind kind;
    unsigned signature; // 0x28: the serial follows; 0x29: the label and type too
    unsigned serial;
    unsigned label;
};

const FatExtendedFields FatFields[] = {
    {VolumeKind::Fat, 0x26, 0x27, 0x2B},
    {VolumeKind::Fat32, 0x42, 0x43, 0x47},
};

constexpr unsigned FatLabelLength = 11;
constexpr unsigned NtfsSerialOffset = 0x48;
constexpr unsigned ExFatSerialOffset = 0x64;

std::string SplitSerial(uint32_t serial) {
    char text[10];
    std::snprintf(text, sizeof text, "%04X-%04X", static_cast<unsigned>(serial >> 16),
                  static_cast<unsigned>(serial & 0xFFFF));
    return text;
}

void ReadFatFields(const uint8_t* sector, const FatExtendedFields& at, VolumeIdentity* identity) {
    const uint8_t signature = sector[at.signature];
    if (signature != 0x28 && signature != 0x29)
        return;
    identity->uuid = SplitSerial(LoadLe32(sector + at.serial));
    if (signature != 0x29)
        return;
    std::string label(reinterpret_cast<const char*>(sector + at.label), FatLabelLength);
    label.erase(label.find_last_not_of(' ') + 1);
    if (label != "NO NAME")
        identity->label = PrintableBytes(label, PrintAs::Text);
}

} // namespace

VolumeIdentity BootSectorIdentity(const uint8_t* sector, VolumeKind kind) {
    VolumeIdentity identity;
    identity.kind = VolumeKindName(kind);
    for (const FatExtendedFields& fields : FatFields)
        if (fields.kind == kind)
            ReadFatFields(sector, fields, &identity);
    if (kind == VolumeKind::Ntfs) {
        char text[17];
        std::snprintf(text, sizeof text, "%016llX",
                      static_cast<unsigned long long>(LoadLe64(sector + NtfsSerialOffset)));
        identity.uuid = text;
    }
    if (kind == VolumeKind::ExFat)
        identity.uuid = SplitSerial(LoadLe32(sector + ExFatSerialOffset));
    return identity;
}
