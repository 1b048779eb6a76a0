// The walk from the MBR's entries to every partition's first sector, through
// chains of extended boot records, over crafted disks held in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/disk_report.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"

namespace {

constexpr uint32_t Wrap(uint64_t value) {
    return static_cast<uint32_t>(value);
}

DiskImage SignedMbrDisk(uint64_t sectors) {
    DiskImage disk = BlankDisk(sectors);
    Sign(disk, 0);
    return disk;
}

void PutText(DiskImage& disk, uint64_t sector, const char* text) {
    std::memcpy(disk.At(sector).data(), text, std::strlen(text));
}

// A signed first sector of a partition of a type the walk does not know.
void PutForeignBootSector(DiskImage& disk, uint64_t sector) {
    PutText(disk, sector, "Linux volume boot sector");
    Sign(disk, sector);
}

std::string AlreadyExamined(int number, uint32_t sector) {
    return "\n#" + std::to_string(number) + " Extended partition table at sector " +
           std::to_string(sector) + " was already examined; not followed.\n";
}

std::string EmptyLine(int number) {
    return ListingLine(number, 0, 0, 0, 0x00, "Empty");
}

std::string LinkLine(int number, uint32_t start, uint32_t count) {
    return ListingLine(number, 0, start, count, 0x05, "DOS Extended CHS");
}

std::string ForeignLine(int number, uint32_t start, uint32_t count) {
    return ListingLine(number, 0, start, count, 0x83, "Not listed");
}

// An extended table as the walk lists it: the heading, the given entry lines, and
// empty entries up to the fourth.
std::string ExtendedTable(int number, const std::vector<std::string>& lines) {
    std::string text = ExtendedHeading(number, 0) + ListingHeader;
    for (const std::string& line : lines)
        text += line;
    for (int empty = static_cast<int>(lines.size()) + 1; empty <= 4; ++empty)
        text += EmptyLine(empty);
    return text;
}

// Before the walk, the summary pass reads sectors 1 and 8 and the MBR to tell
// whether the table was made for another sector size.
constexpr unsigned SectorSizeCheckReads = 3;

// Reads that drive 0 saw during a summary pass alone.
unsigned SummaryPassReads() {
    MemoryDriveAt(0).reads = 0;
    CaptureConsole([] { CaptureReport([] { RunSummaryPass(); }); });
    return MemoryDriveAt(0).reads;
}

class PartitionWalk : public MemoryDriveTest {};

TEST_F(PartitionWalk, TableWithoutPartitionDumpsSector63InBothPasses) {
    DiskImage disk = SignedMbrDisk(200);
    PutTable(disk, 0,
             {{0x00, 0x00, 63, 100},
              {0x80, 0x00, 163, 20},
              {0x00, 0x00, 1000, 1},
              {0x00, 0x00, 4000000000u, 5}});
    PutText(disk, 63, "GRUB stage 1.5 lives here");
    MemoryRun run = RunOnImage(disk);
    std::string expected = "#2 Empty entry is marked active.\n"
                           "Disk 0, No partition found. Sector 63:\n" +
                           HexDump(disk.Get(63));
    EXPECT_EQ(WalkOutput(run.summary), expected);
    EXPECT_EQ(WalkOutput(run.detail[0]), expected);

    DiskImage small = SignedMbrDisk(50);
    PutTable(small, 0, {{0x00, 0x00, 63, 100}});
    run = RunOnImage(small);
    expected = "Disk 0, No partition found. Sector 63:\nReading failed. 0 \n"
               "Reading sector 63 (disk 0) failed.\n";
    EXPECT_EQ(WalkOutput(run.summary), expected);
    EXPECT_EQ(WalkOutput(run.detail[0]), expected);
}

TEST_F(PartitionWalk, UnlistedTypeIsNamedInBothPassesAndDumpedInDetail) {
    DiskImage disk = SignedMbrDisk(2000);
    PutTable(disk, 0, {{0x80, 0x83, 63, 1937}});
    PutForeignBootSector(disk, 63);
    MemoryRun run = RunOnImage(disk);
    const std::string line = "\n#1 >> Disk 0 Unlisted partition type 131. Examine sector 63\n";
    EXPECT_EQ(WalkOutput(run.summary), line);
    EXPECT_EQ(WalkOutput(run.detail[0]), line + HexDump(disk.Get(63)));
}

TEST_F(PartitionWalk, DynamicDiskIsSilentUnlessItsFirstSectorIsBad) {
    DiskImage signedOne = SignedMbrDisk(2000);
    PutTable(signedOne, 0, {{0x00, 0x42, 63, 1937}});
    PutForeignBootSector(signedOne, 63);
    MemoryRun run = RunOnImage(signedOne);
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(WalkOutput(run.detail[0]), "");

    DiskImage beyondMedium = SignedMbrDisk(200);
    PutTable(beyondMedium, 0, {{0x00, 0x42, 500, 1000}});
    run = RunOnImage(beyondMedium);
    std::string failed = "Reading failed. 0 \n#1 Reading boot sector 500 (disk 0) failed.\n";
    EXPECT_EQ(WalkOutput(run.summary), failed);
    EXPECT_EQ(WalkOutput(run.detail[0]), failed);

    DiskImage unsignedOne = SignedMbrDisk(2000);
    PutTable(unsignedOne, 0, {{0x00, 0x42, 63, 1937}});
    PutText(unsignedOne, 63, "LDM private header");
    run = RunOnImage(unsignedOne, "y\n");
    std::string line = "\n#1 BPB sector signature is not 0xaa55. (sector 63)\n";
    EXPECT_EQ(WalkOutput(run.summary), line);
    EXPECT_EQ(WalkOutput(run.detail[0]), line + HexDump(unsignedOne.Get(63)));
    EXPECT_EQ(run.console.find("Backup"), std::string::npos);
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(unsignedOne));
}

TEST_F(PartitionWalk, UnreadableBootSectorOfMbrEntryIsReportedAndTheWalkGoesOn) {
    DiskImage disk = SignedMbrDisk(1000);
    PutTable(disk, 0, {{0x00, 0x07, 5000, 2000}, {0x00, 0x83, 100, 900}});
    PutForeignBootSector(disk, 100);
    MemoryRun run = RunOnImage(disk);
    std::string expected =
        "Reading failed. 0 \n#1 Reading boot sector 5000 (disk 0) failed.\n" + Unlisted(2, 100);
    EXPECT_EQ(WalkOutput(run.summary), expected);
    EXPECT_EQ(WalkOutput(run.detail[0]), expected + HexDump(disk.Get(100)));

    // The medium ends in the middle of the boot sector.
    ResetMemoryDrives();
    DiskImage halfSector = SignedMbrDisk(1001);
    PutTable(halfSector, 0, {{0x00, 0x06, 1000, 100}});
    UseImage(0, halfSector);
    MemoryDriveAt(0).bytes.resize(1000 * 512 + 256);
    run = RunInMemory();
    expected = "Reading failed. 256 \n#1 Reading boot sector 1000 (disk 0) failed.\n";
    EXPECT_EQ(WalkOutput(run.summary), expected);
    EXPECT_EQ(WalkOutput(run.detail[0]), expected);
}

TEST_F(PartitionWalk, UnsignedBootSectorOfMbrEntryIsDumpedInDetailOnly) {
    DiskImage disk = SignedMbrDisk(1000);
    PutTable(disk, 0, {{0x80, 0x06, 63, 437}, {0x00, 0x0E, 500, 500}});
    PutFat16BootSector(disk, 63, 63, 437);
    disk.At(63)[511] = 0x00; // signature gone, the rest intact
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(WalkOutput(run.summary), UnsignedBootSector(1, 63) + UnsignedBootSector(2, 500));
    EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, 63) + HexDump(disk.Get(63)) +
                                             UnsignedBootSector(2, 500) + "Sector is all zero.\n");
    EXPECT_EQ(run.console.find("Backup"), std::string::npos);
}

TEST_F(PartitionWalk, SignedFatAndNtfsBootSectorsShowInDetailOnly) {
    DiskImage disk = SignedMbrDisk(4063);
    PutTable(disk, 0, {{0x80, 0x06, 63, 1000}, {0x00, 0x0C, 1063, 2000}, {0x00, 0x07, 3063, 1000}});
    PutFat16BootSector(disk, 63, 63, 1000);
    PutFat32WithBackup(disk, 1063, 2000);
    PutNtfsWithBackup(disk, 3063, 1000);
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(WalkOutput(run.summary), "");
    std::string detail = FoldDecodedBpb(WalkOutput(run.detail[0]));
    EXPECT_EQ(detail, BootSectorHeading(1, "FAT", 63) + HexDump(disk.Get(63)) + DecodedZeroCode +
                          NoBootFiles(1) + BootSectorHeading(2, "FAT", 1063) +
                          HexDump(disk.Get(1063)) + DecodedZeroCode + NoBootFiles(2) +
                          BackupOk(1069) + BootSectorHeading(3, "NTFS", 3063) +
                          HexDump(disk.Get(3063)) + DecodedZeroCode + NoBootFiles(3) +
                          BackupOk(4062));
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);
}

// Extended partition at 1000: four records, each with one logical partition at
// record + 63. Links lie relative to 1000, the outermost extended partition.
//   record 1000: FAT16 at 1063, link 2000 -> 3000
//   record 3000: link 4000 -> 5000 (entry 1), type 83 at 3063 (entry 2)
//   record 5000: NTFS at 5063, link 6500 -> 7500
//   record 7500: FAT32 at 7563
// Taken relative to their own record the links would lead to 7000 and 11500, and
// logical partitions taken relative to 1000 would all lie at 1063.
DiskImage DiskWithLogicalChain() {
    DiskImage disk = SignedMbrDisk(12000);
    PutTable(disk, 0, {{0x80, 0x06, 63, 937}, {0x00, 0x0F, 1000, 11000}});
    PutFat16BootSector(disk, 63, 63, 937);

    PutTable(disk, 1000, {{0x00, 0x06, 63, 1937}, {0x00, 0x05, 2000, 2000}});
    PutFat16BootSector(disk, 1063, 63, 1937);

    PutTable(disk, 3000, {{0x00, 0x05, 4000, 2500}, {0x00, 0x83, 63, 1937}});
    PutForeignBootSector(disk, 3063);

    PutTable(disk, 5000, {{0x00, 0x07, 63, 2437}, {0x00, 0x05, 6500, 4500}});
    PutNtfsBootSector(disk, 5063, 63, 2436);
    PutMftRecords(disk, 5063);
    disk.At(7499) = disk.Get(5063);

    PutTable(disk, 7500, {{0x00, 0x0B, 63, 4437}});
    PutFat32BootSector(disk, 7563, 63, 4437, 6);
    disk.At(7569) = disk.Get(7563);
    return disk;
}

TEST_F(PartitionWalk, LinksLieRelativeToOutermostExtendedPartition) {
    DiskImage disk = DiskWithLogicalChain();
    MemoryRun run = RunOnImage(disk);

    std::string record1000 = ExtendedTable(
        2, {ListingLine(1, 0, 63, 1937, 0x06, "DOS FAT 16 CHS"), LinkLine(2, 2000, 2000)});
    std::string record3000 = ExtendedTable(2, {LinkLine(1, 4000, 2500), ForeignLine(2, 63, 1937)});
    std::string record5000 = ExtendedTable(
        1, {ListingLine(1, 0, 63, 2437, 0x07, "Windows NT NTFS"), LinkLine(2, 6500, 4500)});
    std::string record7500 =
        ExtendedTable(2, {ListingLine(1, 0, 63, 4437, 0x0B, "Win95 OSR2 FAT32")});

    // Each table is listed where its link is met; the rest of a table follows
    // once the chain behind its link has been walked.
    EXPECT_EQ(WalkOutput(run.summary),
              record1000 + record3000 + record5000 + record7500 + Unlisted(2, 3063));
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              BootSectorHeading(1, "FAT", 63) + HexDump(disk.Get(63)) + DecodedZeroCode +
                  NoBootFiles(1) + record1000 + BootSectorHeading(1, "FAT", 1063) +
                  HexDump(disk.Get(1063)) + DecodedZeroCode + NoBootFiles(1) + record3000 +
                  record5000 + BootSectorHeading(1, "NTFS", 5063) + HexDump(disk.Get(5063)) +
                  DecodedZeroCode + NoBootFiles(1) + BackupOk(7499) + record7500 +
                  BootSectorHeading(1, "FAT", 7563) + HexDump(disk.Get(7563)) + DecodedZeroCode +
                  NoBootFiles(1) + BackupOk(7569) + Unlisted(2, 3063) + HexDump(disk.Get(3063)));

    // Where the other readings would have led: nothing is there.
    EXPECT_EQ(disk.data.count(3000 + 4000), 0u);
    EXPECT_EQ(disk.data.count(5000 + 6500), 0u);
    EXPECT_EQ(run.detail[0].find("sector 7063"), std::string::npos);
    EXPECT_EQ(run.detail[0].find("sector 11563"), std::string::npos);
    EXPECT_EQ(CountOf(run.detail[0], "(sector 1063)"), 1);
}

// A logical FAT or NTFS boot sector must be signed; a Linux type need not be.
TEST_F(PartitionWalk, DamagedLogicalBootSectorsAreReported) {
    DiskImage disk = SignedMbrDisk(300);
    PutTable(disk, 0, {{0x00, 0x0F, 100, 200}});
    PutTable(
        disk, 100,
        {{0x00, 0x06, 10, 10}, {0x00, 0x07, 20, 10}, {0x00, 0x83, 500, 10}, {0x00, 0x0C, 30, 10}});
    PutText(disk, 110, "no signature on this FAT16 boot sector");
    MemoryRun run = RunOnImage(disk, "y\ny\ny\n");
    std::string listing =
        ExtendedHeading(1, 0) + ListingHeader + ListingLine(1, 0, 10, 10, 0x06, "DOS FAT 16 CHS") +
        ListingLine(2, 0, 20, 10, 0x07, "Windows NT NTFS") + ForeignLine(3, 500, 10) +
        ListingLine(4, 0, 30, 10, 0x0C, "Win95 FAT32, LBA");
    EXPECT_EQ(WalkOutput(run.summary), listing + UnsignedBootSector(1, 110) +
                                           UnsignedBootSector(2, 120) + "Reading failed. 0 \n" +
                                           UnsignedBootSector(4, 130));
    EXPECT_EQ(WalkOutput(run.detail[0]), listing + UnsignedBootSector(1, 110) +
                                             HexDump(disk.Get(110)) + UnsignedBootSector(2, 120) +
                                             "Sector is all zero.\n" + "Reading failed. 0 \n" +
                                             UnsignedBootSector(4, 130) + "Sector is all zero.\n");
    EXPECT_EQ(run.console.find("Backup"), std::string::npos) << "no repair of a logical partition";

    // Unreadable: a FAT boot sector is reported, a swap area's is not.
    DiskImage past = SignedMbrDisk(300);
    PutTable(past, 0, {{0x00, 0x0F, 100, 200}});
    PutTable(past, 100, {{0x00, 0x82, 600, 10}, {0x00, 0x0E, 700, 10}});
    run = RunOnImage(past);
    EXPECT_EQ(WalkOutput(run.summary), ExtendedHeading(1, 0) + ListingHeader +
                                           ListingLine(1, 0, 600, 10, 0x82, "Not listed") +
                                           ListingLine(2, 0, 700, 10, 0x0E, "Win95 FAT16, LBA") +
                                           EmptyLine(3) + EmptyLine(4) +
                                           "Reading failed. 0 \nReading failed. 0 \n" +
                                           "#2 Reading boot sector 800 (disk 0) failed.\n");
}

// A damaged extended boot record hides every logical partition after it.
TEST_F(PartitionWalk, DamagedExtendedRecordsAreReported) {
    DiskImage disk = SignedMbrDisk(400);
    PutTable(disk, 0, {{0x00, 0x0F, 100, 300}, {0x00, 0x05, 350, 10}});
    PutTable(disk, 100, {{0x00, 0x83, 10, 20}, {0x00, 0x05, 100, 100}, {0x00, 0x05, 1000, 10}});
    PutForeignBootSector(disk, 110);
    PutText(disk, 200, "an extended boot record that lost its signature");
    MemoryRun run = RunOnImage(disk);
    std::string walk =
        ExtendedTable(1, {ForeignLine(1, 10, 20), LinkLine(2, 100, 100), LinkLine(3, 1000, 10)}) +
        Unlisted(1, 110) + "\n#2 Extended partition table signature is not 0xaa55. (sector 200)\n";
    std::string unreadable = "Reading failed. 0 \n#3 Reading extended partition table sector "
                             "1100 (disk 0) failed.\n";
    std::string mbrEntry2 = UnsignedBootSector(2, 350);
    const std::string overlap = "Partitions 1 and 2 overlap.\n";
    EXPECT_EQ(WalkOutput(run.summary), overlap + walk + unreadable + mbrEntry2);
    EXPECT_EQ(WalkOutput(run.detail[0]),
              overlap +
                  ExtendedTable(
                      1, {ForeignLine(1, 10, 20), LinkLine(2, 100, 100), LinkLine(3, 1000, 10)}) +
                  Unlisted(1, 110) + HexDump(disk.Get(110)) +
                  "\n#2 Extended partition table signature is not "
                  "0xaa55. (sector 200)\n" +
                  HexDump(disk.Get(200)) + unreadable + mbrEntry2 + "Sector is all zero.\n");
}

TEST_F(PartitionWalk, LinkToItsOwnRecordIsNotFollowed) {
    // The first record: a link with start 0 names the outermost record itself.
    DiskImage first = SignedMbrDisk(400);
    PutTable(first, 0, {{0x00, 0x0F, 100, 300}});
    PutTable(first, 100, {{0x00, 0x83, 10, 20}, {0x00, 0x05, 0, 300}});
    PutForeignBootSector(first, 110);
    MemoryRun run = RunOnImage(first);
    std::string listing = ExtendedTable(1, {ForeignLine(1, 10, 20), LinkLine(2, 0, 300)});
    EXPECT_EQ(WalkOutput(run.summary), listing + Unlisted(1, 110) + AlreadyExamined(2, 100));
    EXPECT_EQ(WalkOutput(run.detail[0]),
              listing + Unlisted(1, 110) + HexDump(first.Get(110)) + AlreadyExamined(2, 100));

    // A later record whose link gives its own distance from the outermost record.
    DiskImage later = SignedMbrDisk(400);
    PutTable(later, 0, {{0x00, 0x0F, 100, 300}});
    PutTable(later, 100, {{0x00, 0x83, 10, 20}, {0x00, 0x05, 200, 100}});
    PutForeignBootSector(later, 110);
    PutTable(later, 300, {{0x00, 0x83, 5, 10}, {0x00, 0x05, 200, 100}});
    PutForeignBootSector(later, 305);
    run = RunOnImage(later);
    EXPECT_EQ(WalkOutput(run.summary),
              ExtendedTable(1, {ForeignLine(1, 10, 20), LinkLine(2, 200, 100)}) + Unlisted(1, 110) +
                  ExtendedTable(2, {ForeignLine(1, 5, 10), LinkLine(2, 200, 100)}) +
                  Unlisted(1, 305) + AlreadyExamined(2, 300));
    EXPECT_EQ(CountOf(run.detail[0], "Extended partition table\n"), 2);
    EXPECT_EQ(CountOf(run.detail[0], AlreadyExamined(2, 300)), 1);
}

TEST_F(PartitionWalk, LinksBackToEarlierRecordsAreNotFollowed) {
    DiskImage disk = SignedMbrDisk(700);
    PutTable(disk, 0, {{0x00, 0x0F, 100, 600}});
    PutTable(disk, 100, {{0x00, 0x05, 200, 100}});
    PutTable(disk, 300, {{0x00, 0x05, 400, 100}});
    PutTable(disk, 500, {{0x00, 0x83, 10, 10}});
    SetEntry(disk, 500, 1, 0x00, 0x05, 200, 100); // back to 300
    SetEntry(disk, 500, 2, 0x00, 0x0F, 0, 600);   // back to 100
    PutForeignBootSector(disk, 510);
    MemoryRun run = RunOnImage(disk);
    std::string expected =
        ExtendedTable(1, {LinkLine(1, 200, 100)}) + ExtendedTable(1, {LinkLine(1, 400, 100)}) +
        ExtendedTable(1, {ForeignLine(1, 10, 10), LinkLine(2, 200, 100),
                          ListingLine(3, 0, 0, 600, 0x0F, "MS Extended partition, LBA")}) +
        Unlisted(1, 510) + AlreadyExamined(2, 300) + AlreadyExamined(3, 100);
    EXPECT_EQ(WalkOutput(run.summary), expected);
    // MBR, three records, one logical boot sector: the loop costs no read, nor
    // does a Linux volume looked for in 10 sectors.
    EXPECT_EQ(SummaryPassReads(), SectorSizeCheckReads + 5);
}

TEST_F(PartitionWalk, MbrEntriesNamingTheMbrOrTheSameRecordTwice) {
    DiskImage mbr = SignedMbrDisk(200);
    PutTable(mbr, 0, {{0x00, 0x05, 0, 100}, {0x00, 0x83, 100, 100}});
    PutForeignBootSector(mbr, 100);
    MemoryRun run = RunOnImage(mbr);
    EXPECT_EQ(WalkOutput(run.summary), AlreadyExamined(1, 0) + Unlisted(2, 100));
    EXPECT_EQ(WalkOutput(run.detail[0]),
              AlreadyExamined(1, 0) + Unlisted(2, 100) + HexDump(mbr.Get(100)));
    // The MBR, the boot sector at 100, and in its 50 KiB the only Linux volumes
    // so small: the end of a swap area's first page (sector 107), an ISO 9660
    // descriptor (sector 164).
    EXPECT_EQ(SummaryPassReads(), SectorSizeCheckReads + 2 + 2);

    DiskImage twice = SignedMbrDisk(300);
    PutTable(twice, 0, {{0x00, 0x0F, 100, 200}, {0x00, 0x05, 100, 200}});
    PutTable(twice, 100, {{0x00, 0x83, 10, 20}});
    PutForeignBootSector(twice, 110);
    run = RunOnImage(twice);
    EXPECT_EQ(WalkOutput(run.summary), "Partitions 1 and 2 overlap.\n" +
                                           ExtendedTable(1, {ForeignLine(1, 10, 20)}) +
                                           Unlisted(1, 110) + AlreadyExamined(2, 100));
    EXPECT_EQ(SummaryPassReads(), SectorSizeCheckReads + 3);
}

// Sums of a record's sector and a 32-bit start are 64-bit: nothing wraps back
// onto an earlier record or a low sector.
TEST_F(PartitionWalk, StartsPast32BitsAreNotWrapped) {
    DiskImage toMbr = SignedMbrDisk(1100);
    PutTable(toMbr, 0, {{0x00, 0x0F, 1000, 100}});
    PutTable(toMbr, 1000, {{0x00, 0x83, 10, 20}, {0x00, 0x05, Wrap((1ULL << 32) - 1000), 100}});
    PutForeignBootSector(toMbr, 1010);
    MemoryRun run = RunOnImage(toMbr);
    EXPECT_EQ(WalkOutput(run.summary),
              ExtendedTable(1, {ForeignLine(1, 10, 20), LinkLine(2, 4294966296u, 100)}) +
                  Unlisted(1, 1010) +
                  "Reading failed. 0 \n#2 Reading extended partition table sector 4294967296 "
                  "(disk 0) failed.\n");

    DiskImage toFirst = SignedMbrDisk(1100);
    PutTable(toFirst, 0, {{0x00, 0x0F, 500, 400}, {0x00, 0x0F, 1000, 100}});
    PutTable(toFirst, 500, {{0x00, 0x83, 10, 20}});
    PutForeignBootSector(toFirst, 510);
    PutTable(
        toFirst, 1000,
        {{0x00, 0x07, Wrap((1ULL << 32) - 937), 20}, {0x00, 0x05, Wrap((1ULL << 32) - 500), 100}});
    PutForeignBootSector(toFirst, 63);
    run = RunOnImage(toFirst);
    EXPECT_EQ(WalkOutput(run.summary),
              ExtendedTable(1, {ForeignLine(1, 10, 20)}) + Unlisted(1, 510) +
                  ExtendedTable(2, {ListingLine(1, 0, 4294966359u, 20, 0x07, "Windows NT NTFS"),
                                    LinkLine(2, 4294966796u, 100)}) +
                  "Reading failed. 0 \n#1 Reading boot sector 4294967359 (disk 0) failed.\n" +
                  "Reading failed. 0 \n#2 Reading extended partition table sector 4294967796 "
                  "(disk 0) failed.\n");
}

TEST_F(PartitionWalk, SectorNumbersAbove2To31PrintUnsigned) {
    DiskImage disk = SignedMbrDisk(200);
    PutTable(disk, 0, {{0x00, 0x07, 3000000000u, 1000}, {0x00, 0x83, 4294967295u, 1}});
    MemoryRun run = RunOnImage(disk);
    std::string expected = "Reading failed. 0 \n#1 Reading boot sector 3000000000 (disk 0) "
                           "failed.\nReading failed. 0 \n#2 Reading boot sector 4294967295 "
                           "(disk 0) failed.\n";
    EXPECT_EQ(WalkOutput(run.summary), expected);
    EXPECT_EQ(WalkOutput(run.detail[0]), expected);
}

// 100,000 extended records in sectors 1 to 100,000, each linking to the next.
// Record i holds one logical partition of i + 1 sectors whose boot sector is the
// zero sector 100,001, so only the tables speak.
TEST_F(PartitionWalk, ChainOf100000RecordsIsWalkedCompletely) {
    constexpr uint32_t Records = 100000;
    const uint32_t last = Records + 1;
    {
        DiskImage disk = SignedMbrDisk(Records + 2);
        PutTable(disk, 0, {{0x00, 0x0F, 1, Records + 1}});
        for (uint32_t i = 0; i < Records; ++i) {
            uint32_t record = 1 + i;
            PutTable(disk, record, {{0x00, 0x83, last - record, i + 1}});
            if (i + 1 < Records)
                SetEntry(disk, record, 1, 0x00, 0x05, i + 1, 1);
        }
        UseImage(0, disk);
    }
    MemoryRun run = RunInMemory();

    std::string expected;
    for (uint32_t i = 0; i < Records; ++i) {
        expected += ExtendedHeading(i == 0 ? 1 : 2, 0) + ListingHeader +
                    ForeignLine(1, last - (1 + i), i + 1);
        expected += i + 1 < Records ? LinkLine(2, i + 1, 1) : EmptyLine(2);
        expected += EmptyLine(3) + EmptyLine(4);
    }
    EXPECT_EQ(FirstDifference(WalkOutput(run.summary), expected), "");
    EXPECT_EQ(FirstDifference(WalkOutput(run.detail[0]), expected), "");
    // Per pass: the MBR, each record once, each logical boot sector once; then the
    // scan, which reads the MBR once more to learn that the disk has no GPT.
    EXPECT_EQ(MemoryDriveAt(0).reads, SectorSizeCheckReads + 2 * (1 + 2 * Records) + 1 + 62);
}

} // namespace
