// GUID partition tables made by sgdisk, through both programs: the listing
// against `sgdisk -p`, the verdicts on damaged copies against `sgdisk -v`, a
// disk grown after partitioning before and after `sgdisk -e`, a hybrid MBR, and
// a 3 TiB disk whose backup header lies past sector 2^32.
#include <functional>
#include <regex>
#include <sstream>
#include <unistd.h>

#include "e2e_fixture.h"

namespace {

// "Number  Start (sector)    End (sector)  Size       Code  Name" rows of sgdisk -p.
struct SgdiskRow {
    unsigned number;
    uint64_t start, end;
};

std::vector<SgdiskRow> SgdiskRows(const std::string& text) {
    std::vector<SgdiskRow> rows;
    static const std::regex row(R"(^\s+(\d+)\s+(\d+)\s+(\d+)\s)");
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line))
        if (std::regex_search(line, m, row))
            rows.push_back(
                {static_cast<unsigned>(std::stoul(m[1])), std::stoull(m[2]), std::stoull(m[3])});
    return rows;
}

void WriteAt(const std::string& path, uint64_t offset, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr) << path;
    std::fseek(file, static_cast<long>(offset), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// `sgdisk -v` on a copy, so that nothing it might do touches the image under test.
std::string Verify(const std::string& image, const std::string& scratch) {
    CopySparse(image, scratch);
    std::string out = CommandOutput("sgdisk -v '" + scratch + "' 2>&1; true");
    std::remove(scratch.c_str());
    return out;
}

class GptTest : public ProgramTest {};

TEST_P(GptTest, SgdiskDiskIsListedAsSgdiskListsIt) {
    std::string image = PutSample("gpt.img");
    if (image.empty())
        return;
    Outcome run = Run(Drives({image}));
    std::string summary = run.Report("Bootsieve.txt");
    std::vector<SgdiskRow> rows = SgdiskRows(CommandOutput("sgdisk -p '" + image + "'"));
    ASSERT_EQ(rows.size(), 5u);
    for (const SgdiskRow& row : rows) {
        char start[64];
        std::snprintf(start, sizeof start, "%3u  %12llu %12llu = ", row.number,
                      static_cast<unsigned long long>(row.start),
                      static_cast<unsigned long long>(row.end - row.start + 1));
        EXPECT_EQ(CountOf(summary, start), 1) << start;
    }
    EXPECT_NE(Verify(image, Path("verify.img")).find("No problems found"), std::string::npos);
    // A healthy disk: nothing in the summary but the listing and the Linux partition.
    EXPECT_EQ(summary.find("GPT header"), std::string::npos);
    EXPECT_EQ(summary.find("signature"), std::string::npos);
    EXPECT_NE(summary.find("\n#5 >> Disk 0 GPT partition type Linux filesystem. Examine sector "),
              std::string::npos);
    std::string detail = run.Report("BPB0list.txt");
    EXPECT_NE(detail.find("Backup GPT is OK\n"), std::string::npos);
    EXPECT_EQ(CountOf(detail, "Backup BPB is OK\n"), 3) << "ESP, basic data, recovery";
    EXPECT_EQ(run.Report("Zero0list.txt"),
              ReportHeader + "Scan sectors 1 to 62 and check for zero.\nSectors 1 to 33 hold the "
                             "GUID partition table.\n\n");
}

struct Damage {
    const char* name;
    std::function<void(const std::string& image, uint64_t sectors)> apply;
    const char* line;       // a line of both reports
    const char* sgdiskSays; // what `sgdisk -v` says of the same image
};

const Damage Damages[] = {
    {"primary header CRC broken",
     [](const std::string& image, uint64_t) { WriteAt(image, 512 + 0x28, "\x23"); },
     "Using the backup GPT header at sector ", "invalid main GPT header"},
    {"entry array CRC broken",
     [](const std::string& image, uint64_t) { WriteAt(image, 2 * 512 + 0x38, "X"); },
     "GPT partition entries CRC is ", "Main partition table CRC mismatch"},
    {"backup header zeroed",
     [](const std::string& image, uint64_t sectors) {
         WriteAt(image, (sectors - 1) * 512, std::string(512, '\0'));
     },
     "Backup GPT header signature is not EFI PART. (sector ", "invalid backup GPT header"},
};

TEST_P(GptTest, DamagedCopiesAgreeWithSgdiskVerify) {
    std::string sample = PutSample("gpt.img");
    if (sample.empty())
        return;
    const uint64_t sectors = TakeSnapshot(sample).size / 512;
    for (const Damage& damage : Damages) {
        SCOPED_TRACE(damage.name);
        std::string image = Path("damaged.img");
        CopySparse(sample, image);
        damage.apply(image, sectors);
        std::string verdict = Verify(image, Path("verify.img"));
        EXPECT_NE(verdict.find(damage.sgdiskSays), std::string::npos) << verdict;
        Outcome run = Run(Drives({image}));
        EXPECT_EQ(CountOf(run.Report("Bootsieve.txt"), damage.line), 1);
        EXPECT_EQ(CountOf(run.Report("BPB0list.txt"), damage.line), 1);
        EXPECT_NE(run.Report("Bootsieve.txt").find("Linux filesystem"), std::string::npos)
            << "the partitions are still listed";
        std::remove(image.c_str());
    }
}

// The image grows after partitioning: the backup is no longer at the end, as
// `sgdisk -v` says too. `sgdisk -e` moves it there, and the line goes away.
TEST_P(GptTest, DiskGrownAfterPartitioning) {
    std::string image = PutSample("gpt.img");
    if (image.empty())
        return;
    const uint64_t sectors = TakeSnapshot(image).size / 512;
    ASSERT_EQ(truncate(image.c_str(), static_cast<off_t>((sectors + 2048) * 512)), 0);
    EXPECT_EQ(Verify(image, Path("verify.img")).find("No problems found"), std::string::npos);
    const std::string line =
        "Backup GPT header belongs at sector " + std::to_string(sectors + 2047) +
        ", the disk's last; the header names sector " + std::to_string(sectors - 1) + ".\n";
    EXPECT_EQ(CountOf(Run(Drives({image})).Report("Bootsieve.txt"), line), 1);

    CommandOutput("sgdisk -e '" + image + "' >/dev/null 2>&1; true");
    EXPECT_NE(Verify(image, Path("verify.img")).find("No problems found"), std::string::npos);
    EXPECT_EQ(Run(Drives({image})).Report("Bootsieve.txt").find("Backup GPT header belongs"),
              std::string::npos);
}

TEST_P(GptTest, HybridMbrOfSgdisk) {
    std::string image = PutSample("gpt.img");
    if (image.empty())
        return;
    CommandOutput("sgdisk -h 3 '" + image + "' >/dev/null 2>&1; true");
    std::string summary = Run(Drives({image})).Report("Bootsieve.txt");
    EXPECT_EQ(CountOf(summary, "The MBR also lists other partitions (hybrid MBR).\n"), 1);
    EXPECT_EQ(CountOf(summary, "Protective MBR entry starts at sector "), 0);
}

// 3 TiB, sparse: the backup header and the last usable sectors lie past 2^32.
TEST_P(GptTest, ThreeTebibyteDisk) {
    std::string image = Path("3tib.img");
    ASSERT_EQ(CommandOutput("truncate -s 3T '" + image +
                            "' && sgdisk -o -n 1:2048:+65536 -t "
                            "1:0700 -n 2:6441998336:+65536 -t 2:0700 '" +
                            image + "' >/dev/null 2>&1 && echo ok"),
              "ok\n");
    Outcome run = Run(Drives({image}));
    const std::string summary = run.Report("Bootsieve.txt"), detail = run.Report("BPB0list.txt");
    EXPECT_NE(summary.find("  2    6441998336        65536 =       32 MiB  Microsoft basic data\n"),
              std::string::npos);
    EXPECT_NE(detail.find("20 Sector of the other header    : 6442450943\n"), std::string::npos);
    EXPECT_NE(
        detail.find(">> Disk 0 Backup GPT header (sector 6442450943)      Backup GPT is OK\n"),
        std::string::npos);
    EXPECT_NE(summary.find("\n#2 BPB sector signature is not 0xaa55. (sector 6441998336)\n"),
              std::string::npos);
}

INSTANTIATE_FOR_BOTH_PROGRAMS(GptTest);

} // namespace
