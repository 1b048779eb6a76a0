#include "bpb/bpb_decoders.h"

#include <cinttypes>
#include <cstddef>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "output/output.h"
#include "output/printable.h"

namespace {

enum FieldKind {
    FieldOemId,      // 8 bytes, right-aligned, ending early at a zero byte
    FieldText,       // up to width bytes, ending at a zero byte
    FieldDecimal,    // u8 or u16
    FieldUnsigned,   // u32
    FieldHex,        // lower case, no padding
    FieldHex2,       // two lower-case digits
    FieldHex2Upper,  // two upper-case digits
    FieldHex8Upper,  // eight upper-case digits
    FieldSigned64,   // u64 shown as signed decimal
    FieldHex64Upper, // u64 in upper-case hexadecimal
};

struct BpbField {
    uint8_t offset;
    uint8_t width;
    FieldKind kind;
    const char* label; // the line up to the value, colon and blank included
};

const BpbField NtfsFields[] = {
    {0x03, 8, FieldOemId, "03 OEM ID                                       : "},
    {0x0b, 2, FieldDecimal, "0b Number of bytes per sector                   : "},
    {0x0d, 1, FieldDecimal, "0d Number of sectors per cluster                : "},
    {0x0e, 2, FieldDecimal, "0e Number of sectors in reserved area           : "},
    {0x15, 1, FieldHex2, "15 Media descriptor                             : "},
    {0x18, 2, FieldDecimal, "18 Number of sectors per track                  : "},
    {0x1a, 2, FieldDecimal, "1a Number of heads (sides)                      : "},
    {0x1c, 4, FieldUnsigned, "1c Number of hidden sectors                     : "},
    {0x28, 8, FieldSigned64, "28 Total Sectors                                : "},
    {0x30, 8, FieldSigned64, "30 Logical Cluster Number for the file $MFT     : "},
    {0x38, 8, FieldSigned64, "38 Logical Cluster Number for the file $MFTMirr : "},
    {0x40, 4, FieldHex, "40 Clusters Per File Record Segment             : "},
    {0x44, 4, FieldUnsigned, "44 Clusters Per Index Block                     : "},
    {0x48, 8, FieldHex64Upper, "48 Volume serial number                         : "},
};

const BpbField Fat32Fields[] = {
    {0x03, 8, FieldOemId, "03 OEM ID                                : "},
    {0x0b, 2, FieldDecimal, "0b Bytes per sector (512)                : "},
    {0x0d, 1, FieldDecimal, "0d Sectors Per Cluster (1 - 128)         : "},
    {0x0e, 2, FieldDecimal, "0e Reserved Sectors (at least 1)         : "},
    {0x10, 1, FieldDecimal, "10 Number of copies of FAT (2)           : "},
    {0x15, 1, FieldHex2Upper, "15 DOS media descriptor (F8)             : "},
    {0x18, 2, FieldDecimal, "18 Number of sectors per track           : "},
    {0x1a, 2, FieldDecimal, "1a Number of heads (sides)               : "},
    {0x1c, 4, FieldUnsigned, "1c Number of hidden sectors              : "},
    {0x20, 4, FieldUnsigned, "20 Large Sectors                         : "},
    {0x24, 4, FieldUnsigned, "24 Sectors per FAT                       : "},
    {0x28, 2, FieldHex, "28 Extended Flags                        : "},
    {0x2a, 2, FieldDecimal, "2a File System Version                   : "},
    {0x2c, 4, FieldUnsigned, "2c Root Cluster Number                   : "},
    {0x30, 2, FieldDecimal, "30 File System Information Sector Number : "},
    {0x32, 2, FieldDecimal, "32 Backup Boot Sector                    : "},
    {0x40, 1, FieldDecimal, "40 Physical drive number                 : "},
    {0x41, 1, FieldHex2, "41 NT flags - Surface scan, Dirty flag   : "},
    {0x42, 1, FieldHex2, "42 Signature byte (28 or 29)             : "},
    {0x43, 4, FieldHex8Upper, "43 Volume serial number (random)         : "},
    {0x47, 11, FieldText, "47 Volume label                          : "},
    {0x52, 8, FieldText, "52 File System Type                      : "},
};

const BpbField FatFields[] = {
    {0x03, 8, FieldOemId, "03 OEM ID                                : "},
    {0x0b, 2, FieldDecimal, "0b Bytes per sector (512)                : "},
    {0x0d, 1, FieldDecimal, "0d Sectors Per Cluster (1 - 128)         : "},
    {0x0e, 2, FieldDecimal, "0e Reserved Sectors (at least 1)         : "},
    {0x10, 1, FieldDecimal, "10 Number of copies of FAT (2)           : "},
    {0x11, 2, FieldDecimal, "11 Number of root directory entries      : "},
    {0x13, 2, FieldDecimal, "13 Small Sectors                         : "},
    {0x15, 1, FieldHex2Upper, "15 DOS media descriptor (F8)             : "},
    {0x16, 2, FieldDecimal, "16 Number of sectors per FAT             : "},
    {0x18, 2, FieldDecimal, "18 Number of sectors per track           : "},
    {0x1a, 2, FieldDecimal, "1a Number of heads (sides)               : "},
    {0x1c, 4, FieldUnsigned, "1c Number of hidden sectors              : "},
    {0x20, 4, FieldUnsigned, "20 Large Sectors                         : "},
    {0x24, 1, FieldDecimal, "24 BIOS drive number                     : "},
    {0x25, 1, FieldDecimal, "25 NT flags - Surface scan, Dirty flag   : "},
    {0x26, 1, FieldHex2, "26 Extended Boot Record signature (29)   : "},
    {0x27, 4, FieldHex8Upper, "27 Volume serial number (random)         : "},
    {0x2b, 11, FieldText, "2B Volume label                          : "},
    {0x36, 8, FieldText, "36 File System Type                      : "},
};

// A text field up to its first zero byte, by the printing rule of names, so that
// a label cannot add lines to the report or drive a terminal.
std::string TextField(const uint8_t* at, unsigned width) {
    return PrintableBytes(std::string(at, at + width), PrintAs::Text);
}

void PrintField(const BpbField& field) {
    const uint8_t* at = SectorBuffer + field.offset;
    const bool isText = field.kind == FieldOemId || field.kind == FieldText;
    const std::string text = isText ? TextField(at, field.width) : "";
    uint64_t value = isText ? 0 : LoadLe(at, field.width);
    Report("%s", field.label);
    switch (field.kind) {
    case FieldOemId: Report("%8.8s", text.c_str()); break;
    case FieldText: Report("%.*s", static_cast<int>(field.width), text.c_str()); break;
    case FieldDecimal: Report("%d", static_cast<int>(value)); break;
    case FieldUnsigned: Report("%u", static_cast<unsigned>(value)); break;
    case FieldHex: Report("%x", static_cast<unsigned>(value)); break;
    case FieldHex2: Report("%02x", static_cast<unsigned>(value)); break;
    case FieldHex2Upper: Report("%02X", static_cast<unsigned>(value)); break;
    case FieldHex8Upper: Report("%08X", static_cast<unsigned>(value)); break;
    case FieldSigned64: Report("%" PRId64, static_cast<int64_t>(value)); break;
    case FieldHex64Upper: Report("%" PRIX64, value); break;
    }
    Report("\n");
}

template <std::size_t N> void DecodeBpb(int disk, const BpbField (&fields)[N], bool checkJump) {
    Report(">> Disk %d BPB decoded:\n", disk);
    if (checkJump && SectorBuffer[0] != 0xEB)
        Report("### Possible corrupt jump instruction detected! Expected EB xx xx.\n");
    for (const BpbField& field : fields)
        PrintField(field);
    Report("\n");
}

} // namespace

void DecodeNtfsBpb(int disk) {
    DecodeBpb(disk, NtfsFields, true);
}

int DecodeFat32Bpb(int disk) {
    DecodeBpb(disk, Fat32Fields, true);
    return LoadLe16(SectorBuffer + 0x32);
}

void DecodeFatBpb(int disk) {
    DecodeBpb(disk, FatFields, false);
}
