// The NTFS, FAT32 and FAT12/FAT16 boot parameter block decoders on crafted boot sectors.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "bpb/bpb_decoders.h"
#include "disk/disk_device.h"
#include "disk_image.h"
#include "memory_run.h"

namespace {

void LoadSector(const Sector& sector) {
    std::memcpy(SectorBuffer, sector.data(), BootRecordSize);
}

Sector NtfsSector() {
    DiskImage image = BlankDisk(1);
    PutNtfsBootSector(image, 0, 63, 1000000);
    return image.Get(0);
}

Sector Fat32Sector() {
    DiskImage image = BlankDisk(1);
    PutFat32BootSector(image, 0, 2048, 204800, 6);
    return image.Get(0);
}

Sector Fat16Sector() {
    DiskImage image = BlankDisk(1);
    PutFat16BootSector(image, 0, 63, 20000);
    return image.Get(0);
}

std::string DecodeNtfs(const Sector& sector) {
    LoadSector(sector);
    return CaptureReport([] { DecodeNtfsBpb(0); });
}

std::string DecodeFat32(const Sector& sector, int* backup = nullptr) {
    LoadSector(sector);
    return CaptureReport([&] {
        int field = DecodeFat32Bpb(0);
        if (backup)
            *backup = field;
    });
}

std::string DecodeFat(const Sector& sector) {
    LoadSector(sector);
    return CaptureReport([] { DecodeFatBpb(0); });
}

// The line of the decoded text that starts with the field's offset, without "\n".
std::string FieldLine(const std::string& decoded, const std::string& offset) {
    std::istringstream in(decoded);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, offset.size() + 1, offset + " ") == 0)
            return line;
    return "<no line " + offset + ">";
}

// What follows ": " in the field's line.
std::string FieldValue(const std::string& decoded, const std::string& offset) {
    std::string line = FieldLine(decoded, offset);
    size_t colon = line.find(": ");
    return colon == std::string::npos ? "<no colon>" : line.substr(colon + 2);
}

void ExpectColonColumn(const std::string& decoded, size_t column) {
    std::istringstream in(decoded);
    int fields = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.compare(0, 2, ">>") == 0)
            continue;
        ++fields;
        ASSERT_GE(line.size(), column + 1) << line;
        EXPECT_EQ(line[column - 1], ':') << line;
        EXPECT_EQ(line[column], ' ') << line;
    }
    EXPECT_GT(fields, 10);
}

TEST(BpbDecoderTest, NtfsBootSectorEveryLine) {
    std::string decoded = DecodeNtfs(NtfsSector());
    EXPECT_EQ(decoded, ">> Disk 0 BPB decoded:\n"
                       "03 OEM ID                                       : NTFS    \n"
                       "0b Number of bytes per sector                   : 512\n"
                       "0d Number of sectors per cluster                : 8\n"
                       "0e Number of sectors in reserved area           : 0\n"
                       "15 Media descriptor                             : f8\n"
                       "18 Number of sectors per track                  : 63\n"
                       "1a Number of heads (sides)                      : 255\n"
                       "1c Number of hidden sectors                     : 63\n"
                       "28 Total Sectors                                : 1000000\n"
                       "30 Logical Cluster Number for the file $MFT     : 4\n"
                       "38 Logical Cluster Number for the file $MFTMirr : 62500\n"
                       "40 Clusters Per File Record Segment             : f6\n"
                       "44 Clusters Per Index Block                     : 1\n"
                       "48 Volume serial number                         : 1234ABCD5678EF90\n"
                       "\n");
    ExpectColonColumn(decoded, 49);
}

TEST(BpbDecoderTest, Fat32BootSectorEveryLine) {
    Sector sector = Fat32Sector();
    PutLe(sector.data() + 0x28, 0x0081, 2); // extended flags, printed in hexadecimal
    sector[0x41] = 0x01;
    int backup = -1;
    std::string decoded = DecodeFat32(sector, &backup);
    EXPECT_EQ(decoded, ">> Disk 0 BPB decoded:\n"
                       "03 OEM ID                                : MSWIN4.1\n"
                       "0b Bytes per sector (512)                : 512\n"
                       "0d Sectors Per Cluster (1 - 128)         : 8\n"
                       "0e Reserved Sectors (at least 1)         : 32\n"
                       "10 Number of copies of FAT (2)           : 2\n"
                       "15 DOS media descriptor (F8)             : F8\n"
                       "18 Number of sectors per track           : 63\n"
                       "1a Number of heads (sides)               : 255\n"
                       "1c Number of hidden sectors              : 2048\n"
                       "20 Large Sectors                         : 204800\n"
                       "24 Sectors per FAT                       : 1000\n"
                       "28 Extended Flags                        : 81\n"
                       "2a File System Version                   : 0\n"
                       "2c Root Cluster Number                   : 2\n"
                       "30 File System Information Sector Number : 1\n"
                       "32 Backup Boot Sector                    : 6\n"
                       "40 Physical drive number                 : 128\n"
                       "41 NT flags - Surface scan, Dirty flag   : 01\n"
                       "42 Signature byte (28 or 29)             : 29\n"
                       "43 Volume serial number (random)         : CAFE1234\n"
                       "47 Volume label                          : NO NAME    \n"
                       "52 File System Type                      : FAT32   \n"
                       "\n");
    EXPECT_EQ(backup, 6);
    ExpectColonColumn(decoded, 42);
}

TEST(BpbDecoderTest, Fat16BootSectorEveryLine) {
    Sector sector = Fat16Sector();
    sector[0x25] = 0x01;
    std::string decoded = DecodeFat(sector);
    EXPECT_EQ(decoded, ">> Disk 0 BPB decoded:\n"
                       "03 OEM ID                                : MSDOS5.0\n"
                       "0b Bytes per sector (512)                : 512\n"
                       "0d Sectors Per Cluster (1 - 128)         : 4\n"
                       "0e Reserved Sectors (at least 1)         : 1\n"
                       "10 Number of copies of FAT (2)           : 2\n"
                       "11 Number of root directory entries      : 512\n"
                       "13 Small Sectors                         : 20000\n"
                       "15 DOS media descriptor (F8)             : F8\n"
                       "16 Number of sectors per FAT             : 20\n"
                       "18 Number of sectors per track           : 63\n"
                       "1a Number of heads (sides)               : 255\n"
                       "1c Number of hidden sectors              : 63\n"
                       "20 Large Sectors                         : 0\n"
                       "24 BIOS drive number                     : 128\n"
                       "25 NT flags - Surface scan, Dirty flag   : 1\n"
                       "26 Extended Boot Record signature (29)   : 29\n"
                       "27 Volume serial number (random)         : 0BADF00D\n"
                       "2B Volume label                          : BOOTSIEVE  \n"
                       "36 File System Type                      : FAT16   \n"
                       "\n");
    ExpectColonColumn(decoded, 42);
}

TEST(BpbDecoderTest, DiskNumberInTheTitle) {
    LoadSector(Fat16Sector());
    std::string decoded = CaptureReport([] { DecodeFatBpb(7); });
    EXPECT_EQ(decoded.substr(0, decoded.find('\n') + 1), ">> Disk 7 BPB decoded:\n");
}

TEST(BpbDecoderTest, JumpWarningForNtfsAndFat32Only) {
    const std::string title = ">> Disk 0 BPB decoded:\n";
    const std::string warning =
        "### Possible corrupt jump instruction detected! Expected EB xx xx.\n";
    Sector ntfs = NtfsSector(), fat32 = Fat32Sector(), fat16 = Fat16Sector();
    ntfs[0] = fat32[0] = fat16[0] = 0xE9;
    std::string decoded = DecodeNtfs(ntfs);
    EXPECT_EQ(decoded.substr(0, title.size() + warning.size()), title + warning);
    EXPECT_EQ(decoded.substr(title.size() + warning.size(), 3), "03 ");
    decoded = DecodeFat32(fat32);
    EXPECT_EQ(decoded.substr(0, title.size() + warning.size()), title + warning);
    decoded = DecodeFat(fat16);
    EXPECT_EQ(decoded.find("###"), std::string::npos);
    EXPECT_EQ(decoded.substr(title.size(), 3), "03 ");
    // Only byte 0 is looked at.
    ntfs[0] = 0xEB;
    ntfs[1] = 0x00;
    ntfs[2] = 0x00;
    EXPECT_EQ(DecodeNtfs(ntfs).find("###"), std::string::npos);
}

TEST(BpbDecoderTest, OemIdIsRightAlignedInEightColumns) {
    Sector sector = Fat32Sector();
    std::memcpy(sector.data() + 3, "ABCD\0\0\0\0", 8);
    EXPECT_EQ(FieldLine(DecodeFat32(sector), "03"),
              "03 OEM ID                                :     ABCD");
    std::memcpy(sector.data() + 3, "ABCDEFGH", 8);
    EXPECT_EQ(FieldLine(DecodeFat32(sector), "03"),
              "03 OEM ID                                : ABCDEFGH");
    std::memset(sector.data() + 3, 0, 8);
    EXPECT_EQ(FieldValue(DecodeFat32(sector), "03"), "        ");
    // The OEM field is followed by bytes per sector; only eight bytes are printed.
    Sector ntfs = NtfsSector();
    std::memcpy(ntfs.data() + 3, "MSDOS5.0", 8);
    EXPECT_EQ(FieldValue(DecodeNtfs(ntfs), "03"), "MSDOS5.0");
    std::memcpy(ntfs.data() + 3, "NT\0FS   ", 8);
    EXPECT_EQ(FieldValue(DecodeNtfs(ntfs), "03"), "      NT");
    Sector fat16 = Fat16Sector();
    std::memcpy(fat16.data() + 3, "mkfs.fat", 8);
    EXPECT_EQ(FieldValue(DecodeFat(fat16), "03"), "mkfs.fat");
}

TEST(BpbDecoderTest, LabelsAndTypesStopAtAZeroByte) {
    Sector fat32 = Fat32Sector();
    std::memset(fat32.data() + 0x47, ' ', 11);
    EXPECT_EQ(FieldLine(DecodeFat32(fat32), "47"),
              "47 Volume label                          :            ");
    fat32[0x47] = 0;
    EXPECT_EQ(FieldLine(DecodeFat32(fat32), "47"), "47 Volume label                          : ");
    std::memcpy(fat32.data() + 0x47, "DATA\0DISK  ", 11);
    EXPECT_EQ(FieldValue(DecodeFat32(fat32), "47"), "DATA");
    // Eleven bytes at most, although the type field follows without a zero byte.
    std::memcpy(fat32.data() + 0x47, "ABCDEFGHIJK", 11);
    EXPECT_EQ(FieldValue(DecodeFat32(fat32), "47"), "ABCDEFGHIJK");
    std::memcpy(fat32.data() + 0x52, "FAT32XYZ", 8);
    fat32[0x5A] = 'Q'; // the byte after the field is not printed
    EXPECT_EQ(FieldValue(DecodeFat32(fat32), "52"), "FAT32XYZ");
    fat32[0x52] = 0;
    EXPECT_EQ(FieldLine(DecodeFat32(fat32), "52"), "52 File System Type                      : ");

    Sector fat16 = Fat16Sector();
    std::memset(fat16.data() + 0x2B, ' ', 11);
    EXPECT_EQ(FieldValue(DecodeFat(fat16), "2B"), "           ");
    fat16[0x2B] = 0;
    EXPECT_EQ(FieldLine(DecodeFat(fat16), "2B"), "2B Volume label                          : ");
    std::memcpy(fat16.data() + 0x36, "FAT12\0\0\0", 8);
    EXPECT_EQ(FieldValue(DecodeFat(fat16), "36"), "FAT12");
}

// Text fields follow the printing rule of names: control bytes cannot forge
// report lines or drive a terminal, nor an override turn a label around; they
// print as '.', and so does each byte that is no part of a UTF-8 sequence.
TEST(BpbDecoderTest, ControlBytesInTextFieldsPrintAsDots) {
    Sector fat32 = Fat32Sector();
    std::memcpy(fat32.data() + 0x47,
                "A\x01"
                "B\xE9"
                "CD\x7F"
                "EF\nH",
                11);
    EXPECT_EQ(FieldValue(DecodeFat32(fat32), "47"), "A.B.CD.EF.H");
    std::memcpy(fat32.data() + 3, "\x1B[31m\x80\x1F!", 8);
    EXPECT_EQ(FieldValue(DecodeFat32(fat32), "03"), ".[31m..!");
    std::memcpy(fat32.data() + 0x47,
                "AB\xE2\x80\xAE"
                "CD\xC3\xA9"
                "EF",
                11);
    EXPECT_EQ(FieldValue(DecodeFat32(fat32), "47"), "AB.CD\xC3\xA9"
                                                    "EF");

    Sector fat16 = Fat16Sector();
    std::memcpy(fat16.data() + 0x36, "FAT\x01\xE9   ", 8);
    EXPECT_EQ(FieldValue(DecodeFat(fat16), "36"), "FAT..   ");
    std::memcpy(fat16.data() + 0x2B, "AB\0\nCDEFGHI", 11);
    EXPECT_EQ(FieldValue(DecodeFat(fat16), "2B"), "AB") << "a field still ends at a zero byte";
}

TEST(BpbDecoderTest, ThirtyTwoBitCountsPrintUnsigned) {
    Sector fat32 = Fat32Sector();
    PutLe(fat32.data() + 0x1C, 0x80000000u, 4);
    PutLe(fat32.data() + 0x20, 0xFFFFFFFFu, 4);
    PutLe(fat32.data() + 0x24, 0x80000001u, 4);
    PutLe(fat32.data() + 0x2C, 0x90000000u, 4);
    std::string decoded = DecodeFat32(fat32);
    EXPECT_EQ(FieldLine(decoded, "1c"), "1c Number of hidden sectors              : 2147483648");
    EXPECT_EQ(FieldLine(decoded, "20"), "20 Large Sectors                         : 4294967295");
    EXPECT_EQ(FieldLine(decoded, "24"), "24 Sectors per FAT                       : 2147483649");
    EXPECT_EQ(FieldLine(decoded, "2c"), "2c Root Cluster Number                   : 2415919104");

    Sector fat16 = Fat16Sector();
    PutLe(fat16.data() + 0x1C, 0x80000000u, 4);
    PutLe(fat16.data() + 0x20, 0xFFFFFFFEu, 4);
    decoded = DecodeFat(fat16);
    EXPECT_EQ(FieldLine(decoded, "1c"), "1c Number of hidden sectors              : 2147483648");
    EXPECT_EQ(FieldLine(decoded, "20"), "20 Large Sectors                         : 4294967294");

    Sector ntfs = NtfsSector();
    PutLe(ntfs.data() + 0x1C, 0x80000000u, 4);
    PutLe(ntfs.data() + 0x44, 0x80000000u, 4);
    decoded = DecodeNtfs(ntfs);
    EXPECT_EQ(FieldLine(decoded, "1c"),
              "1c Number of hidden sectors                     : 2147483648");
    EXPECT_EQ(FieldLine(decoded, "44"),
              "44 Clusters Per Index Block                     : 2147483648");
}

TEST(BpbDecoderTest, SixteenBitAndByteFieldsPrintTheirWholeRange) {
    Sector fat16 = Fat16Sector();
    PutLe(fat16.data() + 0x0B, 0xFFFF, 2);
    PutLe(fat16.data() + 0x13, 0x8000, 2);
    fat16[0x0D] = 0xFF;
    fat16[0x15] = 0x0A;
    fat16[0x26] = 0x05;
    PutLe(fat16.data() + 0x27, 0x0000000F, 4);
    std::string decoded = DecodeFat(fat16);
    EXPECT_EQ(FieldValue(decoded, "0b"), "65535");
    EXPECT_EQ(FieldValue(decoded, "13"), "32768");
    EXPECT_EQ(FieldValue(decoded, "0d"), "255");
    EXPECT_EQ(FieldValue(decoded, "15"), "0A");
    EXPECT_EQ(FieldValue(decoded, "26"), "05");
    EXPECT_EQ(FieldValue(decoded, "27"), "0000000F");
}

TEST(BpbDecoderTest, Fat32ReturnsItsBackupField) {
    Sector fat32 = Fat32Sector();
    int backup = -1;
    PutLe(fat32.data() + 0x32, 0, 2);
    DecodeFat32(fat32, &backup);
    EXPECT_EQ(backup, 0);
    PutLe(fat32.data() + 0x32, 0xFFFF, 2);
    DecodeFat32(fat32, &backup);
    EXPECT_EQ(backup, 65535);
    fat32[0x32] = 0x06;
    fat32[0x33] = 0x00;
    std::string decoded = DecodeFat32(fat32, &backup);
    EXPECT_EQ(backup, 6);
    EXPECT_EQ(FieldValue(decoded, "32"), "6");
    // The decoders leave the sector as they found it.
    EXPECT_EQ(std::memcmp(SectorBuffer, fat32.data(), BootRecordSize), 0);
}

TEST(BpbDecoderTest, NtfsWordFieldsAreWholeThirtyTwoBitWords) {
    Sector ntfs = NtfsSector();
    PutLe(ntfs.data() + 0x40, 0xF6, 4);
    PutLe(ntfs.data() + 0x44, 0x01, 4);
    std::string decoded = DecodeNtfs(ntfs);
    EXPECT_EQ(FieldValue(decoded, "40"), "f6");
    EXPECT_EQ(FieldValue(decoded, "44"), "1");
    PutLe(ntfs.data() + 0x40, 0x000001F6, 4);
    PutLe(ntfs.data() + 0x44, 0x00000100, 4);
    decoded = DecodeNtfs(ntfs);
    EXPECT_EQ(FieldValue(decoded, "40"), "1f6");
    EXPECT_EQ(FieldValue(decoded, "44"), "256");
    PutLe(ntfs.data() + 0x40, 0xABCDEF01, 4);
    EXPECT_EQ(FieldValue(DecodeNtfs(ntfs), "40"), "abcdef01");
}

TEST(BpbDecoderTest, NtfsSixtyFourBitFields) {
    Sector ntfs = NtfsSector();
    PutLe(ntfs.data() + 0x28, 0x100000005ull, 8);
    PutLe(ntfs.data() + 0x30, 0x123456789ull, 8);
    PutLe(ntfs.data() + 0x38, 0xFFFFFFFFFFFFFFFFull, 8); // signed decimal shows -1
    PutLe(ntfs.data() + 0x48, 0x00000ABC0000DEF0ull, 8);
    std::string decoded = DecodeNtfs(ntfs);
    EXPECT_EQ(FieldLine(decoded, "28"),
              "28 Total Sectors                                : 4294967301");
    EXPECT_EQ(FieldLine(decoded, "30"),
              "30 Logical Cluster Number for the file $MFT     : 4886718345");
    EXPECT_EQ(FieldLine(decoded, "38"), "38 Logical Cluster Number for the file $MFTMirr : -1");
    EXPECT_EQ(FieldLine(decoded, "48"),
              "48 Volume serial number                         : ABC0000DEF0");
    PutLe(ntfs.data() + 0x28, 0x8000000000000000ull, 8);
    PutLe(ntfs.data() + 0x48, 0xFEDCBA9876543210ull, 8);
    decoded = DecodeNtfs(ntfs);
    EXPECT_EQ(FieldValue(decoded, "28"), "-9223372036854775808");
    EXPECT_EQ(FieldValue(decoded, "48"), "FEDCBA9876543210");
}

} // namespace
