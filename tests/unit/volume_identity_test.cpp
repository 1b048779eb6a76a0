// What each examined volume is known by, on crafted disks (the volumes of the
// real tools are the end-to-end tests'): FAT, NTFS and exFAT serials, an ext4
// label that the printing rule changes, F2FS on GPT, a partition reaching past
// the disk's end; the lookups by UUID, label and PARTUUID that the boot
// loaders' configuration uses.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"
#include "volume/partition_record.h"

namespace {

constexpr uint32_t Start = 2048;
constexpr uint32_t Count = 16384;
constexpr uint64_t Superblock = Start + 2; // an ext superblock's sector, byte 1024

DiskImage Mbr(uint8_t type, uint64_t diskSectors = Start + Count) {
    DiskImage disk = BlankDisk(diskSectors);
    PutTable(disk, 0, {{0x00, type, Start, Count}});
    PutHex(disk, 0, 440, "07 b0 15 0d"); // disk signature 0d15b007
    return disk;
}

// An ext superblock: its magic, compat/incompat/ro_compat features, UUID and label.
void PutExt(DiskImage& disk, const char* features, const char* label) {
    PutHex(disk, Superblock, 0x38, "53 ef");
    PutHex(disk, Superblock, 0x5C, features);
    PutHex(disk, Superblock, 0x68, "0d 15 b0 07 20 24 4e 4e 8a 1e 00 00 00 00 e4 04");
    std::memcpy(disk.At(Superblock).data() + 0x78, label, std::strlen(label));
}

struct IdentityCase {
    const char* name;
    std::function<DiskImage()> image;
    const char* kind;
    const char* label;
    const char* uuid;
    const char* partUuid;
    const char* line; // the line the summary shows of the volume, "" for none
};

const IdentityCase Cases[] = {
    {"Fat32SerialAndNoLabel",
     [] {
         DiskImage disk = Mbr(0x0C);
         PutFat32WithBackup(disk, Start, Count);
         return disk;
     },
     "FAT32", "", "CAFE-1234", "0d15b007-01", ""},
    {"Fat32Label",
     [] {
         DiskImage disk = Mbr(0x0C);
         PutFat32WithBackup(disk, Start, Count);
         std::memcpy(disk.At(Start).data() + 0x47, "EFI        ", 11);
         return disk;
     },
     "FAT32", "EFI", "CAFE-1234", "0d15b007-01", ""},
    {"NtfsSerialInSixteenDigits",
     [] {
         DiskImage disk = Mbr(0x07);
         PutNtfsWithBackup(disk, Start, Count);
         return disk;
     },
     "NTFS", "", "1234ABCD5678EF90", "0d15b007-01", ""},
    {"ExFatSerial",
     [] {
         DiskImage disk = Mbr(0x07);
         PutExFatVolume(disk, Start, Count);
         return disk;
     },
     "exFAT", "", "7F9F-FB1C", "0d15b007-01", ""},
    // Extents and 64-bit; a label with a control and a right-to-left override.
    {"Ext4LabelByThePrintingRule",
     [] {
         DiskImage disk = Mbr(0x83);
         PutExt(disk, "04 00 00 00 c2 00 00 00 6b 04 00 00", "r\x01oo\xe2\x80\xaet");
         return disk;
     },
     "ext4", "r.oo.t", "0d15b007-2024-4e4e-8a1e-00000000e404", "0d15b007-01",
     "#1 >> Disk 0 ext4 volume \"r.oo.t\" UUID 0d15b007-2024-4e4e-8a1e-00000000e404 (sector "
     "2048)\n"},
    // Of a partition that reaches past the disk's end only the sectors on the
    // disk are looked at (the memory drive fails a read past it).
    {"PartitionPastTheDiskEnd",
     [] {
         DiskImage disk = Mbr(0x83, Start + 256);
         PutExt(disk, "00 00 00 00 00 00 00 00 00 00 00 00", "");
         return disk;
     },
     "ext2", "", "0d15b007-2024-4e4e-8a1e-00000000e404", "0d15b007-01",
     "#1 >> Disk 0 ext2 volume \"\" UUID 0d15b007-2024-4e4e-8a1e-00000000e404 (sector 2048)\n"},
    // A drive of 4096-byte sectors: the superblock lies in the partition's first
    // sector, a RAID superblock 8 KiB before its end two sectors before it.
    {"XfsOn4096ByteSectors",
     [] {
         DiskImage disk = BlankDisk(Start + 64, 4096);
         PutTable(disk, 0, {{0x00, 0x83, Start, 64}});
         PutHex(disk, 0, 440, "07 b0 15 0d");
         PutHex(disk, Start, 0, "58 46 53 42");
         PutHex(disk, Start, 32, "0d 15 b0 07 20 24 4e 4e 8a 1e 00 00 00 00 0f 05");
         std::memcpy(disk.At(Start).data() + 108, "data", 4);
         return disk;
     },
     "XFS", "data", "0d15b007-2024-4e4e-8a1e-000000000f05", "0d15b007-01",
     "#1 >> Disk 0 XFS volume \"data\" UUID 0d15b007-2024-4e4e-8a1e-000000000f05 (sector 2048)\n"},
    // A GPT entry: the unique GUID is the PARTUUID; F2FS's UTF-16 label.
    {"GptF2fs",
     [] {
         DiskImage disk = BlankDisk(Start + Count + 64);
         PutGpt(disk,
                StandardGpt(Start + Count + 64, {{LinuxType, Start, Start + Count - 1, u"root"}}));
         PutHex(disk, Superblock, 0, "10 20 f5 f2");
         PutHex(disk, Superblock, 108, "0d 15 b0 07 20 24 4e 4e 8a 1e 00 00 00 00 f2 f5");
         PutHex(disk, Superblock, 124, "70 00 68 00 2e 20 6f 00"); // "p", "h", U+202E, "o"
         return disk;
     },
     "F2FS", "ph.o", "0d15b007-2024-4e4e-8a1e-00000000f2f5", "00000001-0000-4000-8000-000000000001",
     "#1 >> Disk 0 F2FS volume \"ph.o\" UUID 0d15b007-2024-4e4e-8a1e-00000000f2f5 (sector 2048)\n"},
};

class VolumeIdentityTest : public MemoryDriveTest {};

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST_F(VolumeIdentityTest, RecordedAndFoundByUuidLabelAndPartUuid) {
    for (const IdentityCase& c : Cases) {
        SCOPED_TRACE(c.name);
        MemoryRun run = RunOnImage(c.image());
        if (*c.line) {
            EXPECT_EQ(CountOf(run.summary, std::string("\n") + c.line), 1) << run.summary;
            EXPECT_EQ(CountOf(run.detail[0], std::string("\n") + c.line), 1);
        }
        ASSERT_FALSE(RecordedPartitions().empty());
        const PartitionRecord& record = RecordedPartitions().back(); // after a protective MBR's
        const VolumeIdentity& identity = IdentityOf(record);
        EXPECT_STREQ(identity.kind, c.kind);
        EXPECT_EQ(identity.label, c.label);
        EXPECT_EQ(identity.uuid, c.uuid);
        EXPECT_EQ(PartUuidOf(record), c.partUuid);
        EXPECT_EQ(FindVolumeByUuid(c.uuid), &record);
        EXPECT_EQ(FindVolumeByUuid(Upper(c.uuid)), &record) << "blkid's case or another";
        EXPECT_EQ(FindVolumeByLabel(c.label), *c.label ? &record : nullptr);
        EXPECT_EQ(FindPartitionByPartUuid(Upper(c.partUuid)), &record);
        EXPECT_EQ(FindVolumeByUuid(std::string(c.uuid) + "0"), nullptr);
        EXPECT_EQ(FindVolumeByLabel(std::string(c.label) + "x"), nullptr);
        EXPECT_EQ(FindPartitionByPartUuid("0d15b007-02"), nullptr);
        EXPECT_EQ(FindVolumeByUuid(""), nullptr);
    }
}

} // namespace
