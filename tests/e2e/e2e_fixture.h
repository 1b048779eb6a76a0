// End-to-end tests: both built programs, the native bootsieve and bootsieve.exe
// under Wine, run on image files in a fresh directory. Every run checks that the
// images are unchanged (or changed exactly as expected) and that the Windows
// program's reports equal the native program's, line ends and versions aside.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "disk_image.h"
#include "program_run.h"
#include "report_text.h"

// The report header with the platform's numbers as WithoutVersion leaves them.
extern const std::string ReportHeader;

// The console of a whole run: the banner, the summary pass's line for each drive
// ("Open 1" for those in opened), the detail pass's line for each drive in detailed,
// what the detail passes asked and answered, and the closing line.
std::string ExpectedConsole(std::initializer_list<int> opened, std::initializer_list<int> detailed,
                            const std::string& questions = "");

// ---- Image files ----

// The contents of an image file: its size and the 4 KiB blocks that are not zero,
// found through the file's data extents, so a sparse multi-TB image costs nothing.
struct ImageSnapshot {
    std::string path;
    uint64_t size = 0;
    std::map<uint64_t, std::vector<uint8_t>> blocks; // by block index
};

ImageSnapshot TakeSnapshot(const std::string& path);
Sector SnapshotSector(const ImageSnapshot& image, uint64_t sector);
void SetSnapshotSector(ImageSnapshot& image, uint64_t sector, const Sector& contents);
// "" when the file holds exactly what expected says, else where it differs.
std::string DifferenceFrom(const ImageSnapshot& expected);

// Copies an image keeping its holes.
void CopySparse(const std::string& from, const std::string& to);
Sector ReadImageSector(const std::string& path, uint64_t sector);
uint64_t Le(const Sector& sector, unsigned offset, int width);

// ---- Sample images made by tests/images/make_images.sh with the real tools ----

struct SfdiskPartition {
    int number = 0; // 1..4 primary, 5.. logical
    uint64_t start = 0;
    uint64_t size = 0;
    unsigned type = 0;
    bool bootable = false;
};

// The directory the script filled, made once per test program run; "" with
// *why set when the images could not be made.
const std::string& SampleImageDir(std::string* why, bool* toolsMissing);
// The partitions that `sfdisk --dump` listed for the sample NAME.img.
std::vector<SfdiskPartition> SampleTable(const std::string& name);
const SfdiskPartition* FindPartition(const std::vector<SfdiskPartition>& table, unsigned type);

// Output of a command, or "" when it fails.
std::string CommandOutput(const std::string& command);
// "key: value" and "key=value" lines of minfo's output for the FAT volume at sector.
std::map<std::string, std::string> MinfoFields(const std::string& image, uint64_t sector);
// "Key: value" lines of `ntfsinfo -m` for the NTFS volume of count sectors at sector.
std::map<std::string, std::string> NtfsinfoFields(const std::string& image, uint64_t sector,
                                                  uint64_t count);

// ---- The run ----

struct SectorChange {
    std::string image;
    uint64_t sector = 0;
    Sector contents{};
};

struct Expect {
    // The only sectors of the images that the run may change, and their new contents.
    std::vector<SectorChange> changes;
    // The Windows program's reports, console and exit code must equal those of
    // the native program run on copies of the same images.
    bool sameAsNative = true;
};

// Run options for the drives given, reports in the test's directory unless named.
RunOptions Drives(const std::vector<std::string>& drives, const std::string& directory = "");
RunOptions Answered(const std::vector<std::string>& drives, const std::string& answers);
// For runs whose directory or images the native program cannot share.
Expect NotComparedWithNative();

struct Outcome {
    int exitCode = -1;
    std::string console;
    std::string errors;
    std::map<std::string, std::string> reports; // by file name, WithoutVersion applied

    bool Has(const std::string& name) const { return reports.count(name) != 0; }
    std::string Report(const std::string& name) const;
};

class ProgramTest : public ::testing::TestWithParam<Program> {
  protected:
    void SetUp() override;
    void TearDown() override;

    Program program() const { return GetParam(); }
    bool windows() const { return GetParam() == Program::Windows; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Writes the crafted image into the test's directory; returns its path.
    std::string PutImage(const std::string& name, const DiskImage& image);
    // Copies a sample image into the test's directory; skips the test when the
    // real tools are missing. Returns its path.
    std::string PutSample(const std::string& name);

    // Runs the program under test with the reports going to options.directory
    // (the test's directory when empty).
    Outcome Run(RunOptions options, const Expect& expect = {});

    // A tmpfs at dir (created); false with *why when mounting is not permitted.
    // Unmounted in TearDown.
    bool MountTmpfs(const std::string& dir, const std::string& data, bool readOnly,
                    std::string* why);
    bool RemountReadOnly(const std::string& dir, std::string* why);

    std::string dir_;

  private:
    std::vector<std::string> mounts_;
};

std::string ProgramParamName(const ::testing::TestParamInfo<Program>& info);

#define INSTANTIATE_FOR_BOTH_PROGRAMS(suite)                                                       \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Programs, suite, ::testing::Values(Program::Native, Program::Windows), ProgramParamName)
