// The confirmed restore of a boot sector from its backup: the answers, the
// written sector, a read-only image, and two questions on one disk.
#include <algorithm>
#include <filesystem>

#include "memory_run.h"

#include "e2e_fixture.h"

namespace {

struct Answer {
    const char* label;
    Input input;
    const char* text;
    bool restores;
};

const Answer Answers[] = {
    {"y", Input::Text, "y\n", true},
    {"Y", Input::Text, "Y\n", true},
    {"a line starting with y", Input::Text, "yes please\n", true},
    {"n", Input::Text, "n\n", false},
    {"an empty line", Input::Text, "\n", false},
    {"a blank before y", Input::Text, " y\n", false},
    {"end of input", Input::Text, "", false},
    {"closed input", Input::Closed, "", false},
};

class RepairTest : public ProgramTest {};

// broken-fat32.img: FAT32 at 63 whose boot sector lost its 55 AA; mkfs.fat's
// backup at 69 is intact.
TEST_P(RepairTest, BrokenFat32BootSectorIsRestoredOnlyOnYes) {
    std::string samples = PutSample("broken-fat32.img");
    if (samples.empty())
        return;
    Sector broken = ReadImageSector(samples, 63), backup = ReadImageSector(samples, 69);
    ASSERT_NE(broken, backup);
    std::string listing = std::string(ListingHeader) +
                          "1  80 = Yes          63      72261 =     35 MiB  0c = Win95 FAT32, LBA\n"
                          "2  00 = No            0          0 =      0 MiB  00 = Empty\n"
                          "3  00 = No            0          0 =      0 MiB  00 = Empty\n"
                          "4  00 = No            0          0 =      0 MiB  00 = Empty\n"
                          "Partition size matches disk size.\n";
    std::string header = DiskHeader(0, "Size 72324 = 37 MB (35 MiB)");
    std::string unsignedLine = "\n#1 BPB sector signature is not 0xaa55. (sector 63)\n";

    int n = 0;
    for (const Answer& answer : Answers) {
        SCOPED_TRACE(std::string("answer: ") + answer.label);
        std::string dir = Path("answer-" + std::to_string(++n));
        std::filesystem::create_directory(dir);
        std::string image = dir + "/broken-fat32.img";
        CopySparse(samples, image);
        RunOptions options = Answered({image}, answer.text);
        options.input = answer.input;
        options.directory = dir;
        Expect expect;
        if (answer.restores)
            expect.changes.push_back({image, 63, backup});
        Outcome run = Run(options, expect);

        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.console,
                  ExpectedConsole({0}, {0},
                                  RestoreQuestion(1, 63, 69) +
                                      (answer.restores ? "Backup BPB copied to BPB.\n" : "")));
        EXPECT_EQ(run.Report("Bootsieve.txt"),
                  ReportHeader + header + listing + unsignedLine + "\n");
        EXPECT_EQ(run.Report("BPB0list.txt"),
                  ReportHeader + header + HexDump(ReadImageSector(image, 0)) +
                      "MBRcode compare failed\nMBR boot code: none (all zero).\n" + listing +
                      unsignedLine + HexDump(broken) + "\n#1 Backup BPB sector at 69\n" +
                      HexDump(backup) + "\n");
        EXPECT_EQ(ReadImageSector(image, 63) == backup, answer.restores);
    }
}

// The image lies on a read-only mount: the program opens it read-only, the write
// fails and nothing claims success.
TEST_P(RepairTest, ReadOnlyImageReportsTheFailedWrite) {
    std::string samples = PutSample("broken-fat32.img");
    if (samples.empty())
        return;
    std::string why;
    std::string mount = Path("readonly");
    if (!MountTmpfs(mount, "size=64m", false, &why))
        GTEST_SKIP() << why;
    std::string image = mount + "/broken-fat32.img";
    CopySparse(samples, image);
    if (!RemountReadOnly(mount, &why))
        GTEST_SKIP() << why;
    Outcome run = Run(Answered({image}, "y\n"), NotComparedWithNative());

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, ExpectedConsole({0}, {0},
                                           RestoreQuestion(1, 63, 69) +
                                               "Writing backup BPB to sector 63 failed.\n"));
    EXPECT_NE(run.Report("BPB0list.txt").find(HexDump(ReadImageSector(samples, 63))),
              std::string::npos)
        << "the broken boot sector stays on record in the detail report";
}

// A FAT32, an NTFS and a FAT16 partition, all three boot sectors without their
// signature. The answer is read a line at a time: "n" then "y" restores the NTFS
// boot sector only; FAT16 keeps no backup, so there is no third question.
TEST_P(RepairTest, TwoQuestionsOnOneDiskTakeOneLineEach) {
    DiskImage disk = BlankDisk(3563);
    PutTable(disk, 0, {{0x80, 0x0C, 63, 2000}, {0x00, 0x07, 2063, 1000}, {0x00, 0x06, 3063, 500}});
    PutFat32WithBackup(disk, 63, 2000);
    PutNtfsWithBackup(disk, 2063, 1000);
    PutFat16BootSector(disk, 3063, 3063, 500);
    for (uint64_t sector : {63, 2063, 3063})
        Unsign(disk, sector);
    std::string image = PutImage("three.img", disk);
    Expect expect;
    expect.changes.push_back({image, 2063, disk.Get(3062)});
    Outcome run = Run(Answered({image}, "n\ny\n"), expect);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console,
              ExpectedConsole({0}, {0},
                              RestoreQuestion(1, 63, 69) + RestoreQuestion(2, 2063, 3062) +
                                  "Backup BPB copied to BPB.\n"));
    std::string detail = run.Report("BPB0list.txt");
    std::string walk = UnsignedBootSector(1, 63) + HexDump(disk.Get(63)) +
                       "\n#1 Backup BPB sector at 69\n" + HexDump(disk.Get(69)) +
                       UnsignedBootSector(2, 2063) + HexDump(disk.Get(2063)) +
                       "\n#2 Backup BPB sector at 3062\n" + HexDump(disk.Get(3062)) +
                       UnsignedBootSector(3, 3063) + HexDump(disk.Get(3063)) + "\n";
    ASSERT_GE(detail.size(), walk.size());
    EXPECT_EQ(detail.substr(detail.size() - walk.size()), walk);
}

const std::string Copied = "Backup BPB copied to BPB.\n";

constexpr uint64_t GptSectors = 40000, GptLast = GptSectors - 1, BackupArray = GptLast - 32;

DiskImage GptDisk(std::vector<GptLayoutEntry> entries, uint64_t sectors = GptSectors) {
    DiskImage disk = BlankDisk(sectors);
    PutGpt(disk, StandardGpt(sectors, std::move(entries)));
    return disk;
}

// An ESP (FAT32) at 2048 whose boot sector lost its signature, and an NTFS volume at 4096.
DiskImage BrokenEspDisk() {
    DiskImage disk = GptDisk({{EspType, 2048, 4095, u"EFI"}, {BasicDataType, 4096, 8191, u"Data"}});
    PutFat32WithBackup(disk, 2048, 2048);
    PutNtfsWithBackup(disk, 4096, 4096);
    Unsign(disk, 2048);
    return disk;
}

// Entry index's first sector changed in the entry array at sector entries.
void MoveEntry(DiskImage& disk, uint64_t entries, int index, uint64_t first) {
    PutLe(disk.At(entries + index / 4).data() + 128 * (index % 4) + 0x20, first, 8);
}

DiskImage WithMbr(uint64_t sectors, std::initializer_list<TableEntry> entries) {
    DiskImage disk = BlankDisk(sectors);
    PutTable(disk, 0, entries);
    return disk;
}

std::string NoRepair(int number, const std::string& why) {
    return "\n#" + std::to_string(number) + " " + why + "; no repair offered.\n";
}

const std::string Overlaps = "Partition overlaps another partition or the partition table";

// Places and backups a repair must not trust, each answered "y".
const CraftedDisk UntrustedCases[] = {
    {"ReversedGptEntry",
     [] {
         DiskImage disk =
             GptDisk({{BasicDataType, 2048, 8191, u""}, {BasicDataType, 3000, 2048, u""}});
         PutNtfsWithBackup(disk, 2048, 6144); // its boot sector is the reversed entry's "backup"
         return disk;
     },
     "y\n",
     {NoRepair(2, "GPT entry is not valid")}},
    {"GptEntryOverThePrimaryHeader",
     [] {
         DiskImage disk = GptDisk({{BasicDataType, 1, 2048, u""}});
         PutNtfsBootSector(disk, 2048, 1, 2047);
         return disk;
     },
     "y\n",
     {NoRepair(1, "GPT entry is not valid")}},
    {"HybridMbrEntryOverTheHeader",
     [] {
         DiskImage disk = GptDisk({{BasicDataType, 4096, 8191, u""}});
         PutNtfsWithBackup(disk, 4096, 4096);
         SetEntry(disk, 0, 1, 0x00, 0x07, 1, 2048);
         PutNtfsBootSector(disk, 2048, 1, 2047);
         return disk;
     },
     "y\n",
     {NoRepair(2, Overlaps)}},
    {"UsableSectorsOverTheGptItself",
     [] {
         DiskImage disk = BlankDisk(GptSectors);
         GptLayout layout = StandardGpt(GptSectors, {{BasicDataType, 1, 2048, u""}});
         layout.firstUsable = 1;
         PutGpt(disk, layout);
         PutNtfsBootSector(disk, 2048, 0, 2047);
         return disk;
     },
     "y\n",
     {NoRepair(1, Overlaps)}},
    {"OverlappingPrimaries",
     [] {
         DiskImage disk = WithMbr(2000, {{0x80, 0x07, 63, 1000}, {0x00, 0x07, 500, 563}});
         PutNtfsWithBackup(disk, 63, 1000); // the second ends on the first one's backup
         return disk;
     },
     "y\n",
     {"Partitions 1 and 2 overlap.\n", NoRepair(2, Overlaps)}},
    {"AlteredPrimaryArrayIntactBackup",
     [] {
         DiskImage disk = BrokenEspDisk();
         Sign(disk, 2048);
         MoveEntry(disk, 2, 1, 6000); // into the NTFS volume
         return disk;
     },
     "y\n",
     {"Using the backup GPT header at sector 39999.\n",
      "Backup GPT partition entries differ from the primary's.\n",
      ">> #2 Disk 0 NTFS Partition Boot sector (sector 4096)\n"}},
    {"BothArraysAltered",
     [] {
         DiskImage disk = BrokenEspDisk();
         for (uint64_t entries : {uint64_t{2}, BackupArray})
             disk.At(entries)[128 + 0x38] = 'X';
         return disk;
     },
     "y\n",
     {NoRepair(1, "GPT entries failed their CRC")}},
    {"ForeignNtfsBootSectorAsBackup",
     [] {
         DiskImage disk = WithMbr(1063, {{0x80, 0x07, 63, 1000}});
         PutNtfsWithBackup(disk, 63, 1000);
         Unsign(disk, 63);
         PutNtfsBootSector(disk, 1062, 999999, 5000000);
         return disk;
     },
     "y\n",
     {NoRepair(1,
               "Backup BPB sector at 1062 does not fit this partition (hidden sectors 999999)")}},
    {"BackupsOfTwoFileSystems",
     [] {
         DiskImage disk = WithMbr(2063, {{0x80, 0x0C, 63, 2000}});
         PutFat32WithBackup(disk, 63, 2000);
         Unsign(disk, 63);
         PutNtfsBootSector(disk, 2062, 63, 1999); // an NTFS volume's leftover that fits too
         PutLe(disk.At(2062).data() + 0x30, 10, 8);
         PutHex(disk, 63 + 80, 0, "46 49 4C 45");
         return disk;
     },
     "y\n",
     {NoRepair(1, "The partition holds backup boot sectors of more than one file system "
                  "(sectors 2062 and 69)")}},
    {"ForgedGptHeaderOnAnMbrDisk",
     [] {
         DiskImage disk = GptDisk({});
         PutTable(disk, 0, {{0x80, 0x07, 2048, 4096}});
         PutNtfsWithBackup(disk, 2048, 4096);
         PutHex(disk, 3, 0, "FA 33 C0 8E D0 BC 00 7C"); // code hidden under the forged array
         return disk;
     },
     "",
     {"Zero check: sector 1 \n", "Zero check: sector 3 \n"}},
    {"PrimaryNamesItselfAsBackup",
     [] {
         DiskImage disk = GptDisk({{BasicDataType, 2048, 4095, u""}});
         PutLe(disk.At(1).data() + 0x20, 1, 8);
         ResignGptHeader(disk, 1);
         return disk;
     },
     "",
     {"Backup GPT header (sector 39999) does not match the primary header.\n",
      "the header names sector 1.\n"}},
    {"ImplausibleBackupArray",
     [] {
         DiskImage disk = GptDisk({{BasicDataType, 2048, 4095, u""}});
         PutLe(disk.At(GptLast).data() + 0x54, 100, 4);
         ResignGptHeader(disk, GptLast);
         return disk;
     },
     "",
     {"Backup GPT entry array of 128 entries of 100 bytes is not plausible; not read.\n"}},
    {"CrcForgedBackupArray",
     [] {
         DiskImage disk = BrokenEspDisk();
         Sign(disk, 2048);
         MoveEntry(disk, BackupArray, 0, 2100);
         std::vector<uint8_t> array(32 * 512);
         for (uint64_t i = 0; i < 32; ++i)
             std::copy_n(disk.Get(BackupArray + i).data(), 512, array.data() + i * 512);
         const uint32_t crc = static_cast<uint32_t>(Le(disk.Get(GptLast), 0x58, 4));
         ForgeCrc32(array.data(), array.size(), 0x78, crc); // in entry 1's unused name units
         for (uint64_t i = 0; i < 32; ++i)
             std::copy_n(array.data() + i * 512, 512, disk.At(BackupArray + i).data());
         return disk;
     },
     "y\n",
     {"Backup GPT partition entries differ from the primary's.\n"}},
    {"ThirtyTwoThousandEntries",
     [] {
         DiskImage disk = BlankDisk(20480);
         GptLayout layout;
         layout.entryCount = 32768;
         layout.firstUsable = 8194;
         layout.lastUsable = 12286;
         for (uint64_t i = 0; i < 32768; ++i)
             layout.entries.push_back({LinuxType, 8194 + i % 4000, 8194 + i % 4000, u""});
         PutGpt(disk, layout);
         return disk;
     },
     "y\n",
     {"GPT lists 32768 used entries; only the first 256 are listed and examined.\n"}},
    {"ExFatOfTwelveSectors",
     [] {
         DiskImage disk = WithMbr(200, {{0x80, 0x07, 63, 12}});
         PutExFatVolume(disk, 63, 12);
         return disk;
     },
     "",
     {"exFAT partition of 12 sectors is too small for its boot region and its backup.\n"}},
    {"NamesThatTurnOrBreakTheLine",
     [] {
         return GptDisk({{LinuxType, 2048, 4095, u"A\u202EB\u2028C"}});
     },
     "",
     {"     Name \"A.B.C\", "}},
    {"EmptyEntryMarkedActive",
     [] {
         DiskImage disk = WithMbr(1063, {{0x00, 0x07, 63, 1000}, {0x80, 0x00, 0, 0}});
         PutNtfsWithBackup(disk, 63, 1000);
         return disk;
     },
     "",
     {"#2 Empty entry is marked active.\n"}},
};

TEST_P(RepairTest, NothingTheReportCallsBrokenIsTrusted) {
    for (const CraftedDisk& untrusted : UntrustedCases)
        ExpectAsInMemoryWithoutQuestion(untrusted);
}

// Real volumes whose boot sector lost its signature. stale.img: mkfs.fat over an
// old NTFS volume restores from its own sector 6, never from the stale NTFS boot
// sector in the last sector; mkfs.exfat over one gets no question. gpt.img: the
// ESP (mkfs.fat) and the basic data volume (mkntfs) are restored. Each question
// names both sectors.
TEST_P(RepairTest, RealVolumesAreRestoredFromTheirOwnFileSystemsBackup) {
    const std::string stale = PutSample("stale.img"), gpt = PutSample("gpt.img");
    if (stale.empty() || gpt.empty())
        return;
    const Sector oldNtfs = ReadImageSector(stale, 34815);
    const uint64_t mft = 18432 + Le(oldNtfs, 0x30, 8) * oldNtfs[0x0D];
    Expect staleChanges;
    staleChanges.changes.push_back({stale, 2048, ReadImageSector(stale, 2054)});
    Outcome run = Run(Answered({stale}, "y\ny\n"), staleChanges);
    EXPECT_EQ(run.console, ExpectedConsole({0}, {0}, RestoreQuestion(1, 2048, 2054) + Copied));
    EXPECT_NE(run.Report("BPB0list.txt")
                  .find(NoRepair(2, "Backup BPB sector at 34815 does not fit this partition (no "
                                    "$MFT at sector " +
                                        std::to_string(mft) + ")")),
              std::string::npos);

    const uint64_t data = Le(ReadImageSector(gpt, 2), 2 * 128 + 0x20, 8), dataLast = data + 16383;
    for (uint64_t sector : {uint64_t{2048}, data}) {
        Sector unsignedSector = ReadImageSector(gpt, sector);
        unsignedSector[510] = unsignedSector[511] = 0;
        WriteImageSector(gpt, sector, unsignedSector);
    }
    Expect gptChanges;
    gptChanges.changes.push_back({gpt, 2048, ReadImageSector(gpt, 2054)});
    gptChanges.changes.push_back({gpt, data, ReadImageSector(gpt, dataLast)});
    run = Run(Answered({gpt}, "y\ny\n"), gptChanges);
    EXPECT_EQ(run.console, ExpectedConsole({0}, {0},
                                           RestoreQuestion(1, 2048, 2054) + Copied +
                                               RestoreQuestion(3, data, dataLast) + Copied));
}

INSTANTIATE_FOR_BOTH_PROGRAMS(RepairTest);

} // namespace
