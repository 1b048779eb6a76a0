// End-to-end tests: both built programs, the native bootsieve and bootsieve.exe
// under Wine, run on image files in a fresh directory. Every run checks that the
// images are unchanged (or changed exactly as expected) and that the Windows
// program's reports equal the native program's, line ends and versions aside.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "disk_image.h"
#include "image_snapshot.h"
#include "program_run.h"
#include "report_text.h"
#include "sample_images.h"
#include "windows_runs.h"

struct MemoryRun;

// The report header with the platform's numbers as WithoutVersion leaves them.
extern const std::string ReportHeader;

// The console of a whole run: the banner, the summary pass's line for each drive
// ("Open 1" for those in opened), the detail pass's line for each drive in detailed,
// what the detail passes asked and answered, and the closing line.
std::string ExpectedConsole(std::initializer_list<int> opened, std::initializer_list<int> detailed,
                            const std::string& questions = "");

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

// A crafted disk, the answers standard input holds, and lines of the detail or
// the reserved-sector report that show the case was reached.
struct CraftedDisk {
    const char* name;
    std::function<DiskImage()> image;
    const char* answers;
    std::vector<std::string> detailLines;
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

    // Runs the program on a crafted disk and expects what the in-memory run
    // writes, the lines given among the detail report, no repair question, and
    // the image unchanged.
    void ExpectAsInMemoryWithoutQuestion(const CraftedDisk& disk);

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

// The program's run on an image equals the run over the same image held in
// memory, whose exact text the unit tests pin: exit code 0, console, summary,
// detail and reserved-sector report of drive 0.
void ExpectSameAsInMemory(const Outcome& run, const MemoryRun& expected);
