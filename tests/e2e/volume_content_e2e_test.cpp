// Volumes told by their content, through both programs: exFAT made by mkfs.exfat
// and NTFS and FAT32 in partitions of another type, as mkfs leaves them; crafted
// BitLocker and damaged exFAT volumes; a repair offered only for a real backup.
#include <functional>

#include "e2e_fixture.h"
#include "memory_run.h"

namespace {

DiskImage OneEntry(uint8_t type, uint32_t start, uint32_t count) {
    DiskImage disk = BlankDisk(uint64_t{start} + count);
    PutTable(disk, 0, {{0x00, type, start, count}});
    return disk;
}

const CraftedDisk ContentCases[] = {
    {"BitLocker",
     [] {
         DiskImage disk = OneEntry(0x07, 2048, 4096);
         PutBitLockerBootSector(disk, 2048);
         return disk;
     },
     "",
     {"\n#1 >> Disk 0 BitLocker encrypted volume (sector 2048)\n"}},
    {"ExFatChecksumBroken",
     [] {
         DiskImage disk = OneEntry(0x07, 2048, 4096);
         PutExFatVolume(disk, 2048, 4096);
         disk.At(2048 + 3)[7] = 0x99; // an extended boot sector changed after the sum
         disk.At(2048 + 15)[7] = 0x99;
         return disk;
     },
     "",
     {"exFAT boot checksum is "}},
    {"ExFatBackupDiffersInSector5",
     [] {
         DiskImage disk = OneEntry(0x07, 2048, 4096);
         PutExFatVolume(disk, 2048, 4096);
         disk.At(2048 + 17)[300] = 0x01;
         return disk;
     },
     "",
     {"exFAT backup boot region differs from the main one at sector 2065.\n"}},
    {"ExFat4096ByteSectors",
     [] {
         DiskImage disk = OneEntry(0x07, 2048, 4096);
         PutExFatVolume(disk, 2048, 4096, 12);
         return disk;
     },
     "",
     {"exFAT volume with 4096-byte sectors; boot region not checked.\n"}},
    {"NtfsBrokenWithExFatInItsLastSector",
     [] {
         DiskImage disk = OneEntry(0x07, 2048, 4096);
         Fill(disk, 2048, 0x11);
         PutExFatVolume(disk, 2048 + 4095, 1);
         disk.data.erase(disk.data.upper_bound(2048 + 4095), disk.data.end());
         return disk;
     },
     "y\n",
     {"\n#1 Backup BPB sector at 6143 is not a NTFS boot sector; no repair offered.\n"}},
    {"NtfsBrokenWithARandomSignedLastSector",
     [] {
         DiskImage disk = OneEntry(0x07, 2048, 4096);
         Fill(disk, 2048, 0x11);
         Fill(disk, 2048 + 4095, 0xA7);
         Sign(disk, 2048 + 4095);
         return disk;
     },
     "y\n",
     {"\n#1 Backup BPB sector at 6143 is not a NTFS boot sector; no repair offered.\n"}},
};

class VolumeContentTest : public ProgramTest {};

TEST_P(VolumeContentTest, CraftedVolumesReportAsInMemoryAndNothingIsWritten) {
    for (const CraftedDisk& content : ContentCases)
        ExpectAsInMemoryWithoutQuestion(content);
}

// An NTFS boot sector that lost its signature, with a real NTFS backup: the
// repair still works.
TEST_P(VolumeContentTest, RealNtfsBackupIsStillRestored) {
    DiskImage disk = OneEntry(0x07, 2048, 4096);
    PutNtfsWithBackup(disk, 2048, 4096);
    Unsign(disk, 2048);
    std::string path = PutImage("ntfs.img", disk);
    Expect expect;
    expect.changes.push_back({path, 2048, disk.Get(2048 + 4095)});
    Outcome run = Run(Answered({path}, "y\n"), expect);
    EXPECT_NE(run.console.find("Backup BPB copied to BPB.\n"), std::string::npos);
}

// reformatted.img: exFAT in types 07 and 0C, NTFS in 0C, FAT32 in 07, made by
// mkfs.exfat, mkntfs and mkfs.fat inside sfdisk partitions.
TEST_P(VolumeContentTest, ReformattedPartitionsOfRealTools) {
    std::string image = PutSample("reformatted.img");
    if (image.empty())
        return;
    Outcome run = Run(Drives({image}));
    std::string summary = run.Report("Bootsieve.txt"), detail = run.Report("BPB0list.txt");
    for (const char* line : {"\n#2 Partition type 0c holds a exFAT boot sector.\n",
                             "\n#3 Partition type 0c holds a NTFS boot sector.\n",
                             "\n#4 Partition type 07 holds a FAT32 boot sector.\n"}) {
        EXPECT_EQ(CountOf(summary, line), 1) << line;
        EXPECT_EQ(CountOf(detail, line), 1) << line;
    }
    EXPECT_EQ(summary.find("Backup BPB"), std::string::npos) << "every backup agrees";
    EXPECT_EQ(CountOf(detail, "Backup boot region is OK\n"), 2);
    EXPECT_EQ(CountOf(detail, "Backup BPB is OK\n"), 2);

    // The decoded exFAT fields against dump.exfat on the first volume.
    std::vector<SfdiskPartition> table = SampleTable("reformatted.img");
    ASSERT_FALSE(table.empty());
    const SfdiskPartition& exfat = table[0];
    std::string part = Path("exfat.part");
    CommandOutput("dd if='" + image + "' of='" + part +
                  "' bs=512 skip=" + std::to_string(exfat.start) +
                  " count=" + std::to_string(exfat.size) + " status=none");
    std::string dump = CommandOutput("dump.exfat '" + part + "' 2>/dev/null");
    if (dump.empty())
        GTEST_SKIP() << "dump.exfat is not installed (package exfatprogs)";
    const Sector boot = ReadImageSector(image, exfat.start);
    auto field = [&](const char* label) {
        size_t at = detail.find(std::string(label));
        return at == std::string::npos ? std::string()
                                       : detail.substr(at + 38, detail.find('\n', at) - at - 38);
    };
    auto dumped = [&](const char* key) {
        size_t at = dump.find(key);
        if (at == std::string::npos)
            return std::string();
        size_t colon = dump.find(':', at) + 1;
        size_t value = dump.find_first_not_of(" \t", colon);
        return dump.substr(value, dump.find('\n', value) - value);
    };
    EXPECT_EQ(field("48 Volume length"), dumped("Volume Length(sectors)"));
    EXPECT_EQ(field("50 FAT offset"), dumped("FAT Offset(sector offset)"));
    EXPECT_EQ(field("54 FAT length"), dumped("FAT Length(sectors)"));
    EXPECT_EQ(field("58 Cluster heap offset"), dumped("Cluster Heap Offset (sector offset)"));
    EXPECT_EQ(field("5c Cluster count"), dumped("Cluster Count"));
    EXPECT_EQ(field("60 First cluster of root directory"), dumped("Root Cluster (cluster offset)"));
    EXPECT_EQ(field("6c Bytes per sector shift"), dumped("Sector Size Bits"));
    EXPECT_EQ(field("6d Sectors per cluster shift"), dumped("Sector per Cluster bits"));
    std::string serial = dumped("Volume Serial");
    for (char& c : serial)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ("0X" + field("64 Volume serial number"), serial);
    EXPECT_EQ(Le(boot, 0x6C, 1), 9u);
}

// bitlocker.img: a type 07 partition holding a BitLocker boot sector.
TEST_P(VolumeContentTest, BitLockerSample) {
    std::string image = PutSample("bitlocker.img");
    if (image.empty())
        return;
    Outcome run = Run(Drives({image}));
    const std::string line = "\n#1 >> Disk 0 BitLocker encrypted volume (sector 2048)\n";
    EXPECT_EQ(CountOf(run.Report("Bootsieve.txt"), line), 1);
    EXPECT_NE(run.Report("BPB0list.txt").find(line + HexDump(ReadImageSector(image, 2048))),
              std::string::npos);
    EXPECT_EQ(run.Report("BPB0list.txt").find("Backup"), std::string::npos);
}

INSTANTIATE_FOR_BOTH_PROGRAMS(VolumeContentTest);

} // namespace
