// The confirmed restore of a boot sector from its backup: the answers, the
// written sector, a read-only image, and two questions on one disk.
#include <filesystem>

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

INSTANTIATE_FOR_BOTH_PROGRAMS(RepairTest);

} // namespace
