#include "e2e_fixture.h"

#include "memory_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef BOOTSIEVE_SOURCE_DIR
#define BOOTSIEVE_SOURCE_DIR "."
#endif

const std::string ReportHeader = "_______/ Bootsieve version 5.0 \\______ Windows N.N, build N\n";

std::string ExpectedConsole(std::initializer_list<int> opened, std::initializer_list<int> detailed,
                            const std::string& questions) {
    std::string console = "_______/ Bootsieve version 5.0 \\______\n" + SummaryPassLines(opened);
    for (int disk : detailed)
        console += DetailPassLine(disk);
    return console + questions + "Bootsieve exit.\n";
}

// ---- The run ----

RunOptions Drives(const std::vector<std::string>& drives, const std::string& directory) {
    RunOptions options;
    options.drives = drives;
    options.directory = directory;
    return options;
}

RunOptions Answered(const std::vector<std::string>& drives, const std::string& answers) {
    RunOptions options = Drives(drives);
    options.answers = answers;
    return options;
}

Expect NotComparedWithNative() {
    Expect expect;
    expect.sameAsNative = false;
    return expect;
}

std::string ProgramParamName(const ::testing::TestParamInfo<Program>& info) {
    return info.param == Program::Native ? "Native" : "Windows";
}

void ProgramTest::SetUp() {
    if (windows() && !WindowsProgramAvailable())
        GTEST_SKIP() << "bootsieve.exe is not configured: build it and configure with "
                        "-DBOOTSIEVE_WINDOWS_EXE=.../bootsieve.exe to run it under Wine";
    dir_ = MakeTempDir("e2e");
    ASSERT_FALSE(dir_.empty()) << "cannot make a temporary directory";
}

void ProgramTest::TearDown() {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it)
        if (umount2(it->c_str(), 0) != 0 && umount2(it->c_str(), MNT_DETACH) != 0)
            ADD_FAILURE() << "cannot unmount " << *it << ": " << std::strerror(errno);
    mounts_.clear();
    if (!dir_.empty())
        RemoveTree(dir_);
}

std::string ProgramTest::PutImage(const std::string& name, const DiskImage& image) {
    std::string path = Path(name);
    WriteImageFile(path, image);
    return path;
}

namespace {

void SkipUnlessSamples(std::string* dir) {
    std::string why;
    bool toolsMissing = false;
    *dir = SampleImageDir(&why, &toolsMissing);
    if (!dir->empty())
        return;
    if (toolsMissing)
        GTEST_SKIP() << why;
    ADD_FAILURE() << why;
}

} // namespace

std::string ProgramTest::PutSample(const std::string& name) {
    std::string samples;
    SkipUnlessSamples(&samples);
    if (samples.empty())
        return "";
    CopySparse(samples + "/" + name, Path(name));
    return Path(name);
}

bool ProgramTest::MountTmpfs(const std::string& dir, const std::string& data, bool readOnly,
                             std::string* why) {
    std::filesystem::create_directories(dir);
    if (mount("tmpfs", dir.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0,
              data.empty() ? nullptr : data.c_str()) != 0) {
        *why = "cannot mount a tmpfs (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    mounts_.push_back(dir);
    return true;
}

bool ProgramTest::RemountReadOnly(const std::string& dir, std::string* why) {
    if (mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        *why = "cannot remount the tmpfs read-only (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    return true;
}

Outcome ProgramTest::Run(RunOptions options, const Expect& expect) {
    if (options.directory.empty())
        options.directory = dir_;
    std::map<std::string, ImageSnapshot> expected;
    for (const std::string& drive : options.drives)
        if (IsRegularFile(drive) && !expected.count(drive))
            expected[drive] = TakeSnapshot(drive);
    for (const SectorChange& change : expect.changes) {
        EXPECT_TRUE(expected.count(change.image)) << change.image << " is not a drive";
        if (expected.count(change.image))
            SetSnapshotSector(expected[change.image], change.sector, change.contents);
    }
    NativeRun native;
    bool compare = windows() && expect.sameAsNative;
    if (compare)
        native = RunNativeOnCopies(options);

    Outcome outcome = Collect(RunProgram(program(), options), options.directory, program());

    for (const auto& [path, image] : expected)
        EXPECT_EQ(DifferenceFrom(image), "") << "the run changed an image it should not have";
    if (compare) {
        ExpectSameAsNative(outcome, native);
        RemoveTree(native.dir);
    }
    return outcome;
}

void ExpectSameAsInMemory(const Outcome& run, const MemoryRun& expected) {
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console,
              "_______/ Bootsieve version 5.0 \\______\n" + expected.console + "Bootsieve exit.\n");
    EXPECT_EQ(run.Report("Bootsieve.txt"), ReportHeader + expected.summary);
    EXPECT_EQ(run.Report("BPB0list.txt"), ReportHeader + expected.detail[0]);
    EXPECT_EQ(run.Report("Zero0list.txt"), ReportHeader + expected.zero[0]);
}

void ProgramTest::ExpectAsInMemoryWithoutQuestion(const CraftedDisk& disk) {
    SCOPED_TRACE(disk.name);
    const DiskImage image = disk.image();
    std::string path = PutImage(std::string(disk.name) + ".img", image);
    Outcome run = Run(Answered({path}, disk.answers));
    MemoryRun expected = RunOnImage(image, disk.answers);
    ExpectSameAsInMemory(run, expected);
    EXPECT_EQ(run.console.find("Do you want"), std::string::npos);
    for (const std::string& line : disk.detailLines)
        EXPECT_NE((expected.detail[0] + expected.zero[0]).find(line), std::string::npos) << line;
    RemoveTree(path);
}
