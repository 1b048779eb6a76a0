// Disks of 4096-byte sectors made by `fdisk -b 4096`, `mkfs.fat -S 4096`,
// `mkntfs -s 4096` and mkfs.exfat, through both programs: the sector size probed
// and told, the listing against `fdisk -b 4096 -l` and `mmls -b 4096`, tables read
// at the other size, a confirmed restore in 4096-byte sectors, and a
// BOOTSIEVE_SECTOR_SIZE that names no size.
#include <regex>
#include <sstream>

#include "e2e_fixture.h"

namespace {

std::string Fits(unsigned table, unsigned drive) {
    return "Partition table fits " + std::to_string(table) + "-byte sectors, not this drive's " +
           std::to_string(drive) +
           "-byte sectors: the disk was partitioned behind a USB bridge that changes the sector "
           "size, or is attached through one now.\n";
}

const std::string NoRepair = " Partition table fits another sector size; no repair offered.\n";

struct SizeCase {
    const char* label;
    const char* sample;
    const char* sectorSize; // BOOTSIEVE_SECTOR_SIZE, "" for none
    std::vector<std::string> summaryLines;
    std::vector<std::string> detailLines;
};

const std::string Gpt4k = "Size 16384 = 67 MB (64 MiB), 4096-byte sectors\n";
const std::string Mbr4k = "Size 20480 = 83 MB (80 MiB), 4096-byte sectors\n";

const SizeCase SizeCases[] = {
    {"4Kn GPT, its size probed", "4kn-gpt.img", "", {Gpt4k}, {BackupOk(262), BackupOk(6399)}},
    {"4Kn GPT, its size told", "4kn-gpt.img", "4096", {Gpt4k}, {BackupOk(262), BackupOk(6399)}},
    {"4Kn MBR, its size probed",
     "4kn-mbr.img",
     "",
     {Mbr4k},
     {BackupOk(4351), "Backup boot region is OK\n",
      ">> #1 Disk 0 FAT Partition Boot sector (sector 8704)\n"}},
    {"4Kn GPT read at 512", "4kn-gpt.img", "512", {Fits(4096, 512)}, {Fits(4096, 512)}},
    {"4Kn MBR read at 512", "4kn-mbr.img", "512", {Fits(4096, 512)}, {"\n#1" + NoRepair}},
    {"512-byte disk read at 4096", "classic.img", "4096", {Fits(512, 4096)}, {"\n#1" + NoRepair}},
};

// Start and sector count of each row of `fdisk -l` (NAME.fdisk) or `mmls` output.
std::vector<std::pair<uint64_t, uint64_t>> ToolRows(const std::string& text, const char* row) {
    std::vector<std::pair<uint64_t, uint64_t>> rows;
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    const std::regex pattern(row);
    while (std::getline(lines, line))
        if (std::regex_search(line, m, pattern))
            rows.emplace_back(std::stoull(m[1]), m[2].length() ? std::stoull(m[2]) : 0);
    return rows;
}

class SectorSizeTest : public ProgramTest {};

TEST_P(SectorSizeTest, DisksOfEitherSizeAreReadAsTheyWereMade) {
    for (const SizeCase& c : SizeCases) {
        SCOPED_TRACE(c.label);
        const std::string image = PutSample(c.sample);
        if (image.empty())
            return;
        RunOptions options = Answered({image}, "y\n");
        options.sectorSize = c.sectorSize;
        Outcome run = Run(options);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.console.find("Do you want"), std::string::npos);
        for (const std::string& line : c.summaryLines)
            EXPECT_EQ(CountOf(run.Report("Bootsieve.txt"), line), 1) << line;
        for (const std::string& line : c.detailLines)
            EXPECT_EQ(CountOf(run.Report("BPB0list.txt"), line), 1) << line;
    }
}

// Whether the listing shows a partition of count sectors (MBR tables are 10
// columns wide, the GPT listing 12), starting at start when that is not 0.
bool Lists(const std::string& summary, uint64_t start, uint64_t count) {
    for (int width : {10, 12}) {
        char row[64];
        std::snprintf(row, sizeof row, " %*llu %*llu = ", width,
                      static_cast<unsigned long long>(start), width,
                      static_cast<unsigned long long>(count));
        const std::string text = start ? row : std::string(row).substr(width + 1);
        if (summary.find(text) != std::string::npos)
            return true;
    }
    return false;
}

// Every partition fdisk and mmls list, in their 4096-byte sectors, is listed with
// its size, and a primary or GPT partition with its first sector (a logical one's
// lies relative to its extended boot record).
TEST_P(SectorSizeTest, ListingsAgreeWithFdiskAndMmls) {
    for (const char* sample : {"4kn-gpt.img", "4kn-mbr.img"}) {
        const std::string image = PutSample(sample);
        if (image.empty())
            return;
        const std::string summary = Run(Drives({image})).Report("Bootsieve.txt");
        std::string why;
        bool missing = false;
        const std::string fdisk = ReadTextFile(SampleImageDir(&why, &missing) + "/" +
                                               std::string(sample).replace(8, 3, "fdisk"));
        const auto primaries = ToolRows(fdisk, R"(\.img[1-4]\s+\*?\s*(\d+)\s+\d+\s+(\d+)\s)");
        ASSERT_GE(primaries.size(), 2u) << sample;
        for (const auto& [start, count] : primaries)
            EXPECT_TRUE(Lists(summary, start, count)) << sample << ": " << start << " " << count;
        for (const auto& [start, count] : ToolRows(fdisk, R"(\.img[5-9]\s+\d+\s+\d+\s+(\d+)()\s)"))
            EXPECT_TRUE(Lists(summary, 0, start)) << sample << ": logical of " << start;
        const std::string mmls = CommandOutput("mmls -b 4096 '" + image + "'");
        for (const auto& [start, count] :
             ToolRows(mmls, R"(^\d+:\s+\d+:?\d*\s+0*(\d+)\s+\d+\s+0*(\d+)\s*)"))
            EXPECT_TRUE(Lists(summary, 0, count)) << sample << ": mmls " << start << " " << count;
    }
}

// The NTFS volume of 4096-byte sectors lost its signature: its last sector, a
// whole 4096-byte sector, is written over it on "y".
TEST_P(SectorSizeTest, RestoreWritesOneWholeSectorOfTheDrive) {
    const std::string image = PutSample("4kn-mbr.img");
    if (image.empty())
        return;
    Sector boot = ReadImageSector(image, 256, 4096);
    boot[510] = boot[511] = 0;
    WriteImageSector(image, 256, boot);
    Expect restore;
    restore.changes.push_back({image, 256, ReadImageSector(image, 4351, 4096)});
    Outcome run = Run(Answered({image}, "y\n"), restore);
    EXPECT_EQ(
        run.console,
        ExpectedConsole({0}, {0}, RestoreQuestion(1, 256, 4351) + "Backup BPB copied to BPB.\n"));
}

TEST_P(SectorSizeTest, SectorSizeSettingThatNamesNoSizeIsRefused) {
    const std::string image = PutImage("blank.img", BlankDisk(64));
    RunOptions options = Drives({image});
    options.sectorSize = "1000";
    Outcome run = Run(options);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.errors, "Bootsieve: BOOTSIEVE_SECTOR_SIZE must be 512, 1024, 2048 or 4096.\n");
    EXPECT_EQ(run.console, "");
    EXPECT_TRUE(run.reports.empty());
}

INSTANTIATE_FOR_BOTH_PROGRAMS(SectorSizeTest);

} // namespace
