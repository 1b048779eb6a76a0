// GUID partition tables over disks held in memory: the section of a healthy
// disk word for word, then one case per damage and per check.
#include <gtest/gtest.h>

#include <functional>

#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"

namespace {

constexpr uint64_t Sectors = 40000;
constexpr uint64_t Last = Sectors - 1;

// ESP (FAT32) with the fallback loader, basic data (NTFS), Microsoft reserved, Linux.
DiskImage GptDisk(std::function<void(GptLayout&)> change = nullptr) {
    DiskImage disk = BlankDisk(Sectors);
    GptLayout layout = StandardGpt(Sectors, {{EspType, 2048, 4095, u"EFI system partition"},
                                             {BasicDataType, 4096, 8191, u"Basic data"},
                                             {ReservedType, 8192, 10239, u"Microsoft reserved"},
                                             {LinuxType, 10240, 20479, u"Linux"}});
    if (change)
        change(layout);
    PutGpt(disk, layout);
    PutFat32WithBackup(disk, 2048, 2048);
    PutFatFiles(disk, 2048, {{"\\EFI\\BOOT\\BOOTX64.EFI", 1024}});
    PutNtfsWithBackup(disk, 4096, 4096);
    return disk;
}

const std::string Heading = "\n#1 ....................................................>> Disk 0 "
                            "GUID partition table\n";
const std::string ListingHead = "  #  First sector      Sectors   ____Size____  Type\n";
const std::string Listing = ListingHead +
                            "  1          2048         2048 =        1 MiB  EFI system partition\n"
                            "  2          4096         4096 =        2 MiB  Microsoft basic data\n"
                            "  3          8192         2048 =        1 MiB  Microsoft reserved\n"
                            "  4         10240        10240 =        5 MiB  Linux filesystem\n";
const std::string LinuxLine = "\n#4 >> Disk 0 GPT partition type Linux filesystem. Examine sector "
                              "10240\n";

class Gpt : public MemoryDriveTest {};

TEST_F(Gpt, HealthyDiskIsListedAndEveryPartitionExamined) {
    DiskImage disk = GptDisk();
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(WalkOutput(run.summary), Heading + Listing + LinuxLine);

    const std::string detail = WalkOutput(run.detail[0]);
    const std::string decoded = ">> Disk 0 GPT header decoded:\n"
                                "00 Signature                     : EFI PART\n"
                                "08 Revision                      : 00010000\n"
                                "0c Header size                   : 92\n";
    EXPECT_EQ(detail.substr(0, Heading.size() + decoded.size()), Heading + decoded);
    for (const std::string& line :
         {std::string("18 Sector of this header         : 1\n"),
          std::string("20 Sector of the other header    : 39999\n"),
          std::string("30 Last usable sector            : 39966\n"),
          std::string("38 Disk GUID                     : 5EC7A1B0-0000-4000-8000-00000000D15C\n"),
          std::string(">> Disk 0 Backup GPT header (sector 39999)      Backup GPT is OK\n" +
                      ListingHead),
          std::string("     Name \"EFI system partition\", unique GUID "
                      "00000001-0000-4000-8000-000000000001, attributes 0000000000000000\n"),
          BootSectorHeading(1, "FAT", 2048), BackupOk(2054), BootSectorHeading(2, "NTFS", 4096),
          BackupOk(8191), LinuxLine + HexDump(disk.Get(10240))})
        EXPECT_EQ(CountOf(detail, line), 1) << line;
    EXPECT_EQ(detail.find("#3 >>"), std::string::npos) << "Microsoft reserved is not examined";
    EXPECT_EQ(run.zero[0], ScanHeading + "Sectors 1 to 33 hold the GUID partition table.\n\n");
}

struct GptCase {
    const char* name;
    std::function<DiskImage()> image;
    std::vector<std::string> summaryLines; // each appears once in the summary
    bool listed = true;                    // the entries are listed
};

void Patch(DiskImage& disk, uint64_t sector, unsigned offset, uint64_t value, int width) {
    PutLe(disk.At(sector).data() + offset, value, width);
    ResignGptHeader(disk, sector);
}

const GptCase GptCases[] = {
    {"primary header CRC broken",
     [] {
         DiskImage disk = GptDisk();
         disk.At(1)[0x28] = 35;
         return disk;
     },
     {"GPT header CRC is ", "Using the backup GPT header at sector 39999.\n"}},
    {"entry array CRC broken",
     [] {
         DiskImage disk = GptDisk();
         disk.At(2)[0x38] = 'X';
         return disk;
     },
     {"GPT partition entries CRC is "}},
    {"backup header zeroed",
     [] {
         DiskImage disk = GptDisk();
         disk.At(Last).fill(0);
         return disk;
     },
     {"Backup GPT header signature is not EFI PART. (sector 39999)\n"}},
    {"both headers gone",
     [] {
         DiskImage disk = GptDisk();
         disk.At(1).fill(0);
         disk.At(Last).fill(0);
         return disk;
     },
     {"GPT header signature is not EFI PART. (sector 1)\n",
      "Backup GPT header signature is not EFI PART. (sector 39999)\n"},
     false},
    {"backup names another sector",
     [] {
         DiskImage disk = GptDisk();
         Patch(disk, Last, 0x18, 5, 8);
         return disk;
     },
     {"Backup GPT header at sector 39999 names itself sector 5.\n"}},
    {"backup disagrees",
     [] {
         DiskImage disk = GptDisk();
         Patch(disk, Last, 0x28, 40, 8);
         return disk;
     },
     {"Backup GPT header (sector 39999) does not match the primary header.\n"}},
    {"disk grown after partitioning",
     [] {
         DiskImage disk = GptDisk();
         disk.sectors += 1000;
         return disk;
     },
     {"Backup GPT header belongs at sector 40999, the disk's last; the header names sector "
      "39999.\n"}},
    {"usable sectors beyond the disk",
     [] { return GptDisk([](GptLayout& g) { g.lastUsable = 50000; }); },
     {"GPT usable sectors end at 50000, beyond the disk's last sector 39999.\n"}},
    {"protective entry not at sector 1",
     [] {
         DiskImage disk = GptDisk();
         SetEntry(disk, 0, 0, 0x00, 0xEE, 2, 39998);
         return disk;
     },
     {"Protective MBR entry starts at sector 2, not 1.\n"}},
    {"hybrid MBR",
     [] {
         DiskImage disk = GptDisk();
         SetEntry(disk, 0, 1, 0x80, 0x07, 4096, 4096);
         return disk;
     },
     {"The MBR also lists other partitions (hybrid MBR).\n"}},
    {"second protective entry",
     [] {
         DiskImage disk = GptDisk();
         SetEntry(disk, 0, 1, 0x00, 0xEE, 1, 100);
         return disk;
     },
     {"\n#2 GUID partition table already examined; not followed.\n"}},
    {"entry size not a multiple of 128",
     [] { return GptDisk([](GptLayout& g) { g.entrySize = 100; }); },
     {"\nGPT entry array of 128 entries of 100 bytes is not plausible; not read.\n",
      "Backup GPT entry array of 128 entries of 100 bytes is not plausible; not read.\n"},
     false},
    {"entry array over 4 MiB",
     [] {
         DiskImage disk = GptDisk();
         Patch(disk, 1, 0x50, 0x10000000, 4);
         return disk;
     },
     {"GPT entry array of 268435456 entries of 128 bytes is not plausible; not read.\n",
      "Using the backup GPT header at sector 39999.\n"}},
    {"entry ends before it starts",
     [] { return GptDisk([](GptLayout& g) {
              g.entries[3] = {LinuxType, 20000, 19000, u""};
          }); },
     {"GPT entry 4 ends before it starts (sectors 20000 to 19000).\n"}},
    {"signed volume of an entry that ends before it starts",
     [] {
         DiskImage disk = GptDisk([](GptLayout& g) {
             g.entries[3] = {BasicDataType, 20000, 19000, u""};
         });
         PutNtfsWithBackup(disk, 20000, 500);
         return disk;
     },
     {"GPT entry 4 ends before it starts (sectors 20000 to 19000).\n",
      "\n#4 >> Disk 0 GPT partition type Microsoft basic data. Examine sector 20000\n"}},
    {"entry outside the usable sectors",
     [] { return GptDisk([](GptLayout& g) {
              g.entries[3] = {LinuxType, 20, 100, u""};
          }); },
     {"GPT entry 4 (sectors 20 to 100) lies outside the usable sectors 34 to 39966.\n"}},
    {"overlapping entries",
     [] {
         return GptDisk([](GptLayout& g) {
             g.entries[2] = {ReservedType, 3000, 3100, u""};
             g.entries[3] = {LinuxType, 8000, 9000, u""};
         });
     },
     {"GPT entries 1 and 3 overlap.\nGPT entries 2 and 4 overlap.\n"}},
};

TEST_F(Gpt, DamageAndChecks) {
    for (const GptCase& gpt : GptCases) {
        SCOPED_TRACE(gpt.name);
        MemoryRun run = RunOnImage(gpt.image());
        for (const std::string& line : gpt.summaryLines) {
            EXPECT_EQ(CountOf(run.summary, line), 1) << line;
            EXPECT_EQ(CountOf(run.detail[0], line), 1) << line;
        }
        // The listing's header line stands whenever a header is in use.
        const bool noHeader = std::string(gpt.name) == "both headers gone";
        EXPECT_EQ(CountOf(run.summary, ListingHead), noHeader ? 0 : 1);
        EXPECT_EQ(run.summary.find("EFI system partition") != std::string::npos, gpt.listed);
    }
}

// Controls, the characters that break a line or turn it around on screen, and a
// lone surrogate print as dots.
TEST_F(Gpt, NamesShowControlCharactersAndLoneSurrogatesAsDots) {
    DiskImage disk = GptDisk([](GptLayout& g) {
        g.entries[3].name = std::u16string(u"A\u0001B") + char16_t(0xD800) +
                            u"C\u00E9\U0001F600\u0085\u2028\u2029\u202E\u2066\u2069\u202F";
    });
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(
        CountOf(run.detail[0], "     Name \"A.B.C\xC3\xA9\xF0\x9F\x98\x80......\xE2\x80\xAF\", "),
        1);
}

// An ESP whose boot sector lost its signature: its FAT32 backup at sector 6 is
// offered and restored; a basic data partition with no backup gets no question.
TEST_F(Gpt, RepairOffersOnlyARealBackup) {
    DiskImage disk = GptDisk();
    Unsign(disk, 2048);
    disk.At(4096).fill(0);
    disk.At(8191).fill(0);
    MemoryRun run = RunOnImage(disk, "y\n");
    EXPECT_EQ(run.console, SummaryPassLines({0}) + DetailPassLine(0) +
                               RestoreQuestion(1, 2048, 2054) + "Backup BPB copied to BPB.\n");
    EXPECT_EQ(CountOf(run.detail[0], UnsignedBootSector(1, 2048) + HexDump(disk.Get(2048)) +
                                         "\n#1 Backup BPB sector at 2054\n"),
              1);
    EXPECT_EQ(CountOf(run.detail[0],
                      UnsignedBootSector(2, 4096) + "Sector is all zero.\n" +
                          "\n#2 No NTFS or FAT32 backup boot sector found; no repair offered.\n"),
              1);
    DiskImage restored = disk;
    restored.At(2048) = disk.Get(2054);
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(restored));
}

// An entry whose first sector, times 512, wraps to byte 512: a write there would
// land on the GPT header, whatever a real FAT32 boot sector at sector 7 offers.
TEST_F(Gpt, EntryBeyondAnyByteOffsetIsNeverReadNorRepaired) {
    const uint64_t first = (uint64_t{1} << 55) + 1;
    DiskImage disk = GptDisk([&](GptLayout& g) {
        g.entries[0] = {EspType, first, first + 99, u""};
    });
    PutFat32BootSector(disk, 7, 0, 100, 6);
    MemoryRun run = RunOnImage(disk, "y\ny\n");
    const std::string failed =
        "#1 Reading boot sector " + std::to_string(first) + " (disk 0) failed.\n";
    EXPECT_EQ(CountOf(run.summary, failed), 1);
    EXPECT_EQ(run.console.find("Do you want"), std::string::npos);
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(disk));
}

} // namespace
