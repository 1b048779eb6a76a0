// The run as a whole: drives that are missing, empty, blank or unsigned, the
// drive list, and the report files in awkward directories.
#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "e2e_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string OneMiB = "Size 2048 = 1 MB (1 MiB)";
const std::string EmptyScan = ScanHeading + "\n";

// An MBR that was wiped, with a FAT16 boot sector left at the old first partition.
DiskImage WipedMbrDisk() {
    DiskImage disk = BlankDisk(2048);
    PutFat16BootSector(disk, 63, 63, 1985);
    return disk;
}

// The summary lines and the detail report of WipedMbrDisk as drive disk.
std::string WipedSummary(int disk) {
    return DiskHeader(disk, OneMiB) + "MBR sector is all zero.\n";
}

std::string WipedDetail(int disk) {
    return ReportHeader + WipedSummary(disk) + "Sector 63:\n" + HexDump(WipedMbrDisk().Get(63));
}

// Boot code and a table, but 55 AA written the wrong way round.
DiskImage ReversedSignatureDisk() {
    DiskImage disk = BlankDisk(2048);
    Sector& mbr = disk.At(0);
    const char code[] = "\xFA\x33\xC0\x8E\xD0\xBC\x00\x7C Not a known boot loader";
    std::copy(code, code + sizeof code - 1, mbr.begin());
    SetEntry(disk, 0, 0, 0x80, 0x06, 63, 1985);
    mbr[510] = 0xAA;
    mbr[511] = 0x55;
    return disk;
}

std::set<std::string> FilesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

class RunDriverTest : public ProgramTest {};

TEST_P(RunDriverTest, NoDriveAtAllLeavesOnlyTheSummaryHeader) {
    fs::create_directory(Path("reports"));
    Outcome run = Run(Drives({Path("no-such-image.img")}, Path("reports")));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, ExpectedConsole({}, {}));
    EXPECT_EQ(run.Report("Bootsieve.txt"), ReportHeader);
    EXPECT_EQ(FilesIn(Path("reports")), std::set<std::string>{"Bootsieve.txt"});
    EXPECT_NE(run.errors.find("BOOTSIEVE_DRIVES"), std::string::npos) << run.errors;
}

TEST_P(RunDriverTest, AllZeroMbrShowsSector63InTheDetailReport) {
    Outcome run = Run(Drives({PutImage("wiped.img", WipedMbrDisk())}));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.console, ExpectedConsole({0}, {0}));
    EXPECT_EQ(run.Report("Bootsieve.txt"), ReportHeader + WipedSummary(0));
    EXPECT_EQ(run.Report("BPB0list.txt"), WipedDetail(0));
    EXPECT_EQ(run.Report("Zero0list.txt"), ReportHeader + EmptyScan);
}

TEST_P(RunDriverTest, UnsignedMbrPrintsByte511ThenByte510AndIsDumpedTwice) {
    DiskImage disk = ReversedSignatureDisk();
    Outcome run = Run(Drives({PutImage("reversed.img", disk)}));

    std::string verdict = "MBR sector signature is not 0xaa55. (55aa)\n";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, ExpectedConsole({0}, {0}));
    EXPECT_EQ(run.Report("Bootsieve.txt"), ReportHeader + DiskHeader(0, OneMiB) + verdict);
    EXPECT_EQ(run.Report("BPB0list.txt"), ReportHeader + DiskHeader(0, OneMiB) +
                                              HexDump(disk.Get(0)) + "MBRcode compare failed\n" +
                                              "MBR boot code: not recognised.\n" + verdict +
                                              HexDump(disk.Get(0)));
    EXPECT_EQ(run.Report("Zero0list.txt"), ReportHeader + EmptyScan);
}

TEST_P(RunDriverTest, EmptyAndShortFilesFailTheMbrReadAndGetNoDetailReport) {
    WriteTextFile(Path("empty.img"), "");
    WriteTextFile(Path("short.img"), std::string(100, 'x'));
    Outcome run = Run(Drives({Path("empty.img"), Path("short.img")}));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, ExpectedConsole({0, 1}, {}));
    EXPECT_EQ(run.Report("Bootsieve.txt"),
              ReportHeader + DiskHeader(0) + "Reading failed. 0 \n" +
                  "Reading MBR sector (disk 0) failed. (maybe empty cardreader)\n" + DiskHeader(1) +
                  "Reading failed. 100 \n" +
                  "Reading MBR sector (disk 1) failed. (maybe empty cardreader)\n");
    EXPECT_EQ(FilesIn(dir_), (std::set<std::string>{"Bootsieve.txt", "empty.img", "short.img"}));
}

TEST_P(RunDriverTest, GapsInTheDriveListAreDrivesThatDoNotOpen) {
    std::string a = PutImage("a.img", WipedMbrDisk());
    std::string b = PutImage("b.img", ReversedSignatureDisk());
    Outcome run = Run(Drives({a, "", b, Path("missing.img"), a}));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, ExpectedConsole({0, 2, 4}, {0, 2, 4}));
    EXPECT_EQ(run.Report("Bootsieve.txt"), ReportHeader + WipedSummary(0) + DiskHeader(2, OneMiB) +
                                               "MBR sector signature is not 0xaa55. (55aa)\n" +
                                               WipedSummary(4));
    for (const char* name : {"BPB0list.txt", "Zero0list.txt", "BPB2list.txt", "Zero2list.txt",
                             "BPB4list.txt", "Zero4list.txt"})
        EXPECT_TRUE(run.Has(name)) << name;
    for (const char* name : {"BPB1list.txt", "Zero1list.txt", "BPB3list.txt", "Zero3list.txt"})
        EXPECT_FALSE(run.Has(name)) << name;
    EXPECT_EQ(run.Report("BPB4list.txt"), WipedDetail(4));
}

TEST_P(RunDriverTest, ReportsThatAlreadyExistAreOverwritten) {
    std::string junk(100000, 'J');
    for (const char* name : {"Bootsieve.txt", "BPB0list.txt", "Zero0list.txt"})
        WriteTextFile(Path(name), junk);
    Outcome run = Run(Drives({PutImage("wiped.img", WipedMbrDisk())}));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Report("Bootsieve.txt"), ReportHeader + WipedSummary(0));
    EXPECT_EQ(run.Report("BPB0list.txt"), WipedDetail(0));
    EXPECT_EQ(run.Report("Zero0list.txt"), ReportHeader + EmptyScan);
}

// A protective MBR entry over a GPT disk of 3 TiB: more sectors than 32 bits hold.
TEST_P(RunDriverTest, SparseDiskOver2TiBShowsItsFullSectorCount) {
    const uint64_t sectors = (uint64_t{3} << 40) / 512;
    DiskImage disk = BlankDisk(sectors);
    PutTable(disk, 0, {{0x00, 0xEE, 1, 0xFFFFFFFF}});
    const char gptHeader[] = "EFI PART\x00\x00\x01\x00\x5c\x00\x00\x00";
    std::copy(gptHeader, gptHeader + sizeof gptHeader - 1, disk.At(1).begin());
    std::copy(gptHeader, gptHeader + sizeof gptHeader - 1, disk.At(sectors - 1).begin());
    std::string image = PutImage("gpt3t.img", disk);
    Outcome run = Run(Drives({image}));

    std::string header = DiskHeader(0, "Size 6442450944 = 3298 GB (3072 GiB)");
    std::string listing = std::string(ListingHeader) +
                          "1  00 = No            1 4294967295 = 2097151 MiB  ee = Not listed\n"
                          "2  00 = No            0          0 =      0 MiB  00 = Empty\n"
                          "3  00 = No            0          0 =      0 MiB  00 = Empty\n"
                          "4  00 = No            0          0 =      0 MiB  00 = Empty\n"
                          "Partition size 4294967296. Unallocated 2147483648 sectors.\n";
    // Both headers lack their CRC: the GPT section says so, past sector 2^32 too.
    std::string heading = "\n#1 ....................................................>> Disk 0 "
                          "GUID partition table\n";
    std::string primary = "GPT header CRC is 00000000, computed 36425678. (sector 1)\n";
    std::string backup =
        "Backup GPT header CRC is 00000000, computed 36425678. (sector 6442450943)\n";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Report("Bootsieve.txt"),
              ReportHeader + header + listing + heading + primary + backup + "\n");
    EXPECT_EQ(run.Report("BPB0list.txt"),
              ReportHeader + header + HexDump(disk.Get(0)) + "MBRcode compare failed\n" +
                  "MBR boot code: none (all zero).\n" + listing + heading + primary +
                  HexDump(disk.Get(1)) + backup + "\n");
    EXPECT_EQ(run.Report("Zero0list.txt"),
              ReportHeader + ScanHeading + ZeroCheck(1, disk.Get(1)) + "\n");
    struct stat st;
    ASSERT_EQ(stat(image.c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 1 << 20) << "the image must stay sparse";
}

// The Windows program opens its reports with the C library's fopen; refusing a
// planted symbolic link is the rule of the POSIX build.
#define SKIP_ON_WINDOWS_FOR_SYMLINKS()                                                             \
    if (windows())                                                                                 \
    GTEST_SKIP() << "symbolic links in the report directory are refused by the POSIX build only"

TEST_P(RunDriverTest, SummaryReportThatIsASymbolicLinkStopsTheRunBeforeAnyDrive) {
    SKIP_ON_WINDOWS_FOR_SYMLINKS();
    fs::create_directory(Path("elsewhere"));
    WriteTextFile(Path("elsewhere/precious.txt"), "precious\n");
    fs::create_symlink(Path("elsewhere/precious.txt"), Path("Bootsieve.txt"));
    Outcome run = Run(Drives({PutImage("wiped.img", WipedMbrDisk())}));

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("Bootsieve.txt"), std::string::npos) << run.errors;
    EXPECT_EQ(run.console.find("Process disk"), std::string::npos) << run.console;
    EXPECT_EQ(ReadTextFile(Path("elsewhere/precious.txt")), "precious\n");
    EXPECT_TRUE(fs::is_symlink(Path("Bootsieve.txt")));
    EXPECT_EQ(FilesIn(dir_), (std::set<std::string>{"Bootsieve.txt", "elsewhere", "wiped.img"}));
}

TEST_P(RunDriverTest, DetailReportThatIsASymbolicLinkIsSkippedAndTheRunGoesOn) {
    SKIP_ON_WINDOWS_FOR_SYMLINKS();
    fs::create_directory(Path("elsewhere"));
    WriteTextFile(Path("elsewhere/precious.txt"), "precious\n");
    fs::create_symlink(Path("elsewhere/precious.txt"), Path("BPB0list.txt"));
    fs::create_symlink(Path("elsewhere/planted.txt"), Path("BPB1list.txt"));
    std::string image = PutImage("wiped.img", WipedMbrDisk());
    Outcome run = Run(Drives({image, image}));

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("BPB0list.txt"), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find("BPB1list.txt"), std::string::npos) << run.errors;
    EXPECT_EQ(ReadTextFile(Path("elsewhere/precious.txt")), "precious\n");
    EXPECT_FALSE(fs::exists(Path("elsewhere/planted.txt")));
    EXPECT_EQ(run.console, ExpectedConsole({0, 1}, {}));
    EXPECT_EQ(run.Report("Bootsieve.txt"), ReportHeader + WipedSummary(0) + WipedSummary(1));
    EXPECT_EQ(run.Report("Zero0list.txt"), ReportHeader + EmptyScan);
    EXPECT_EQ(run.Report("Zero1list.txt"), ReportHeader + EmptyScan);
}

// As root, file modes do not stop a write; a read-only mount does.
TEST_P(RunDriverTest, UnwritableDirectoryStopsTheRunBeforeAnyDrive) {
    std::string why;
    if (!MountTmpfs(Path("readonly"), "size=64k", true, &why))
        GTEST_SKIP() << why;
    Outcome run = Run(Drives({PutImage("wiped.img", WipedMbrDisk())}, Path("readonly")),
                      NotComparedWithNative());

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("Bootsieve.txt"), std::string::npos) << run.errors;
    EXPECT_EQ(run.console.find("Process disk"), std::string::npos) << run.console;
    EXPECT_TRUE(FilesIn(Path("readonly")).empty());
}

// The reports go to a tmpfs of 8 KiB: the summary fits, the detail report of a
// partitioned disk does not.
TEST_P(RunDriverTest, ReportThatFillsTheDiskFailsTheRun) {
    std::string image = PutSample("classic.img");
    if (image.empty())
        return;
    std::string why;
    if (!MountTmpfs(Path("full"), "size=8k", false, &why))
        GTEST_SKIP() << why;
    Outcome run = Run(Drives({image}, Path("full")), NotComparedWithNative());

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("BPB0list.txt"), std::string::npos) << run.errors;
    EXPECT_EQ(run.console, ExpectedConsole({0}, {0}));
    EXPECT_NE(run.Report("Bootsieve.txt").find("Partition size matches disk size.\n"),
              std::string::npos);
}

INSTANTIATE_FOR_BOTH_PROGRAMS(RunDriverTest);

} // namespace
