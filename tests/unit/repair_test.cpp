// Restoring an unsigned boot sector of a primary partition from its signed
// backup, on the user's answer, in whole runs over disks held in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#if defined(__GLIBC__)
#include <unistd.h>
#endif

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "driver/disk_report.h"
#include "layout/mbr_layout.h"
#include "memory_fixture.h"
#include "output/output.h"
#include "volume/backup_restore.h"

#include "memory_run.h"
#include "report_text.h"

namespace {

// The console up to the detail pass of drive 0, the only drive present.
std::string ConsoleBeforeDetail() {
    return SummaryPassLines({0}) + DetailPassLine(0);
}

// The question for the FAT32 partition at 63 (and a second one at 2063).
std::string Question(uint32_t backup) {
    return backup == 2069 ? RestoreQuestion(2, 2063, 2069) : RestoreQuestion(1, 63, backup);
}

const std::string Copied = "Backup BPB copied to BPB.\n";

void BreakSignature(DiskImage& disk, uint64_t sector) {
    Unsign(disk, sector);
    disk.At(sector)[0] = 0x00; // a damaged jump as well
}

// FAT32 partition of entry index at start, its boot sector unsigned and its
// signed backup six sectors on.
void PutBrokenFat32(DiskImage& disk, int index, uint32_t start) {
    SetEntry(disk, 0, index, 0x00, 0x0C, start, 2000);
    PutFat32WithBackup(disk, start, 2000);
    BreakSignature(disk, start);
}

DiskImage BrokenFat32Disk(uint64_t sectors = 2063) {
    DiskImage disk = BlankDisk(sectors);
    Sign(disk, 0);
    PutBrokenFat32(disk, 0, 63);
    return disk;
}

// What the image must hold after copying sector from over sector to.
std::vector<uint8_t> Restored(DiskImage disk, uint64_t to, uint64_t from) {
    disk.At(to) = disk.Get(from);
    return ToBytes(disk);
}

class Repair : public MemoryDriveTest {};

struct Answer {
    const char* input;
    bool yes;
};

void PrintTo(const Answer& answer, std::ostream* out) {
    *out << ::testing::PrintToString(std::string(answer.input))
         << (answer.yes ? " (yes)" : " (no)");
}

class RepairAnswer : public MemoryDriveParamTest<Answer> {};

TEST_P(RepairAnswer, WritesOnlyOnALineStartingWithY) {
    DiskImage disk = BrokenFat32Disk();
    MemoryRun run = RunOnImage(disk, GetParam().input);

    EXPECT_EQ(run.console, ConsoleBeforeDetail() + Question(69) + (GetParam().yes ? Copied : ""));
    EXPECT_EQ(WalkOutput(run.summary), UnsignedBootSector(1, 63));
    EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, 63) + HexDump(disk.Get(63)) +
                                             "\n#1 Backup BPB sector at 69\n" +
                                             HexDump(disk.Get(69)));
    EXPECT_EQ(MemoryDriveAt(0).bytes, GetParam().yes ? Restored(disk, 63, 69) : ToBytes(disk));
}

INSTANTIATE_TEST_SUITE_P(Answers, RepairAnswer,
                         ::testing::Values(Answer{"y\n", true}, Answer{"Y\n", true},
                                           Answer{"yes please\n", true}, Answer{"y", true},
                                           Answer{"n\n", false}, Answer{"\n", false},
                                           Answer{"", false}, Answer{"ny\n", false},
                                           Answer{" y\n", false}));

TEST_F(Repair, EachQuestionReadsItsOwnLine) {
    DiskImage disk = BlankDisk(4063);
    Sign(disk, 0);
    PutBrokenFat32(disk, 0, 63);
    PutBrokenFat32(disk, 1, 2063);
    MemoryRun run = RunOnImage(disk, "n\ny\n");
    EXPECT_EQ(run.console, ConsoleBeforeDetail() + Question(69) + Question(2069) + Copied);
    EXPECT_EQ(MemoryDriveAt(0).bytes, Restored(disk, 2063, 2069));
    EXPECT_EQ(WalkOutput(run.detail[0]),
              UnsignedBootSector(1, 63) + HexDump(disk.Get(63)) + "\n#1 Backup BPB sector at 69\n" +
                  HexDump(disk.Get(69)) + UnsignedBootSector(2, 2063) + HexDump(disk.Get(2063)) +
                  "\n#2 Backup BPB sector at 2069\n" + HexDump(disk.Get(2069)));

    // After the first line the input ends: the second question is answered no.
    run = RunOnImage(disk, "y and the rest of the line\n");
    EXPECT_EQ(run.console, ConsoleBeforeDetail() + Question(69) + Copied + Question(2069));
    EXPECT_EQ(MemoryDriveAt(0).bytes, Restored(disk, 63, 69));
}

TEST_F(Repair, NtfsBackupInTheLastSectorIsCopied) {
    DiskImage disk = BlankDisk(1063);
    PutTable(disk, 0, {{0x80, 0x07, 63, 1000}});
    PutNtfsWithBackup(disk, 63, 1000);
    BreakSignature(disk, 63);
    MemoryRun run = RunOnImage(disk, "y\n");
    EXPECT_EQ(run.console, ConsoleBeforeDetail() + Question(1062) + Copied);
    EXPECT_EQ(WalkOutput(run.summary), UnsignedBootSector(1, 63));
    EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, 63) + HexDump(disk.Get(63)) +
                                             "\n#1 Backup BPB sector at 1062\n" +
                                             HexDump(disk.Get(1062)));
    EXPECT_EQ(MemoryDriveAt(0).bytes, Restored(disk, 63, 1062));
}

TEST_F(Repair, AllZeroBootSectorIsRestoredToo) {
    DiskImage disk = BrokenFat32Disk();
    disk.At(63).fill(0);
    MemoryRun run = RunOnImage(disk, "y\n");
    EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, 63) + "Sector is all zero.\n" +
                                             "\n#1 Backup BPB sector at 69\n" +
                                             HexDump(disk.Get(69)));
    EXPECT_EQ(MemoryDriveAt(0).bytes, Restored(disk, 63, 69));
}

TEST_F(Repair, UnsignedOrUnreadableBackupIsNotOffered) {
    DiskImage unsignedBackup = BrokenFat32Disk();
    BreakSignature(unsignedBackup, 69);
    MemoryRun run = RunOnImage(unsignedBackup, "y\n");
    EXPECT_EQ(run.console, ConsoleBeforeDetail() + "Backup BPB is at sector 69.\n");
    EXPECT_EQ(WalkOutput(run.detail[0]),
              UnsignedBootSector(1, 63) + HexDump(unsignedBackup.Get(63)) +
                  "\n#1 Backup BPB sector signature is not 0xaa55. Sector 69\n" +
                  HexDump(unsignedBackup.Get(69)));
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(unsignedBackup));

    DiskImage zeroBackup = BrokenFat32Disk();
    zeroBackup.At(69).fill(0);
    run = RunOnImage(zeroBackup, "y\n");
    EXPECT_EQ(run.console, ConsoleBeforeDetail() + "Backup BPB is at sector 69.\n");
    EXPECT_EQ(WalkOutput(run.detail[0]),
              UnsignedBootSector(1, 63) + HexDump(zeroBackup.Get(63)) +
                  "\n#1 Backup BPB sector signature is not 0xaa55. Sector 69\n"
                  "Sector is all zero.\n");
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(zeroBackup));

    DiskImage shortImage = BrokenFat32Disk(66);
    run = RunOnImage(shortImage, "y\n");
    EXPECT_EQ(run.console, ConsoleBeforeDetail() + "Backup BPB is at sector 69.\n");
    EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, 63) + HexDump(shortImage.Get(63)) +
                                             "Reading failed. 0 \n"
                                             "\n#1 Failed to read backup BPB (69)\n");
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(shortImage));
}

TEST_F(Repair, TypeWithoutBackupGetsNoQuestion) {
    DiskImage disk = BlankDisk(1063);
    PutTable(disk, 0, {{0x80, 0x06, 63, 1000}});
    PutFat16BootSector(disk, 63, 63, 1000);
    PutFat16BootSector(disk, 69, 63, 1000);
    BreakSignature(disk, 63);
    MemoryRun run = RunOnImage(disk, "y\n");
    EXPECT_EQ(run.console, ConsoleBeforeDetail());
    EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, 63) + HexDump(disk.Get(63)));
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(disk));
}

void ExpectFailedWrite(const DiskImage& disk, const MemoryRun& run) {
    EXPECT_EQ(run.console,
              ConsoleBeforeDetail() + Question(69) + "Writing backup BPB to sector 63 failed.\n");
    EXPECT_EQ(run.console.find("copied"), std::string::npos);
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(disk));
    // The broken boot sector's dump was written before the question.
    EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, 63) + HexDump(disk.Get(63)) +
                                             "\n#1 Backup BPB sector at 69\n" +
                                             HexDump(disk.Get(69)));
}

// A write that fails, and one that the drive accepts and flushes but does not
// keep: only the read-back tells them from a restore.
TEST_F(Repair, FailedWriteIsReportedAndClaimsNothing) {
    for (bool drops : {false, true}) {
        SCOPED_TRACE(drops ? "drive drops writes" : "read-only drive");
        DiskImage disk = BrokenFat32Disk();
        ResetMemoryState();
        UseImage(0, disk);
        MemoryDriveAt(0).readOnly = !drops;
        MemoryDriveAt(0).dropsWrites = drops;
        ExpectFailedWrite(disk, RunInMemory("y\n"));
    }
}

#if defined(__GLIBC__) // the answer comes from a glibc cookie stream

// When the question waits for its answer, the report file already holds the dump
// of the broken boot sector: its only copy once the backup is written over it.
std::string ReportOnDiskAtQuestion;

ssize_t SnapshotReportAndAnswerNo(void*, char* buffer, size_t size) {
    std::string text;
    char chunk[4096];
    ssize_t n;
    for (off_t at = 0; (n = pread(fileno(ReportStream), chunk, sizeof chunk, at)) > 0; at += n)
        text.append(chunk, static_cast<size_t>(n));
    static const char answer[] = "n\n";
    if (!ReportOnDiskAtQuestion.empty() || size < 2)
        return 0; // answered once; then end of input
    ReportOnDiskAtQuestion = text;
    std::memcpy(buffer, answer, 2);
    return 2;
}

TEST_F(Repair, ReportHoldsTheBrokenBootSectorBeforeTheQuestion) {
    DiskImage disk = BrokenFat32Disk();
    UseImage(0, disk);
    ReportOnDiskAtQuestion.clear();
    std::string report;
    CaptureConsole([&] {
        FILE* capturedIn = ConsoleIn;
        cookie_io_functions_t answerer{SnapshotReportAndAnswerNo, nullptr, nullptr, nullptr};
        ConsoleIn = fopencookie(nullptr, "r", answerer);
        report = CaptureReport([] {
            RunSummaryPass();
            RunDetailPass(0);
        });
        std::fclose(ConsoleIn);
        ConsoleIn = capturedIn;
    });
    const std::string dump = HexDump(disk.Get(63));
    ASSERT_NE(report.find(dump), std::string::npos);
    EXPECT_NE(ReportOnDiskAtQuestion.find(dump), std::string::npos);
    EXPECT_NE(ReportOnDiskAtQuestion.find("\n#1 Backup BPB sector at 69\n"), std::string::npos);
}

#endif

// A boot sector at sector 0 is the MBR: it is never written, whatever the entry says.
TEST_F(Repair, SectorZeroIsNeverOverwritten) {
    DiskImage disk = BlankDisk(200);
    PutNtfsBootSector(disk, 99, 0, 100); // a signed "backup" at the entry's last sector
    UseImage(0, disk);
    const PartitionPlace place{0, Pass::Detail, 1, 0x07, 0, 100, PartitionOrigin::Primary, 200};
    ASSERT_EQ(OpenDisk(0), 1);
    std::string console =
        CaptureConsole([&] { CaptureReport([&] { OfferBackupRestore(place); }); }, "y\n");
    CloseDisk();
    EXPECT_EQ(console, "");
    EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(disk));
}

} // namespace
