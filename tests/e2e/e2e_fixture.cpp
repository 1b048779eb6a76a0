#include "e2e_fixture.h"

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

// ---- Image files ----

namespace {

constexpr uint64_t BlockSize = 4096;

bool AllZero(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// Calls visit(offset, length) for every data extent of the open file.
template <typename Visit> void ForEachDataExtent(int fd, uint64_t size, Visit visit) {
    off_t position = 0;
    while (static_cast<uint64_t>(position) < size) {
        off_t data = lseek(fd, position, SEEK_DATA);
        if (data < 0)
            return;
        off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            hole = static_cast<off_t>(size);
        visit(static_cast<uint64_t>(data), static_cast<uint64_t>(hole - data));
        position = hole;
    }
}

std::vector<uint8_t> ReadAt(int fd, uint64_t offset, uint64_t length) {
    std::vector<uint8_t> bytes(length);
    uint64_t done = 0;
    while (done < length) {
        ssize_t n =
            pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n <= 0)
            break;
        done += static_cast<uint64_t>(n);
    }
    return bytes; // zeros past the end of the file
}

std::vector<uint8_t> BlockOf(const ImageSnapshot& image, uint64_t block) {
    auto it = image.blocks.find(block);
    return it == image.blocks.end() ? std::vector<uint8_t>(BlockSize) : it->second;
}

std::string FirstDifferingByte(uint64_t block, const std::vector<uint8_t>& actual,
                               const std::vector<uint8_t>& expected) {
    for (uint64_t i = 0; i < BlockSize; ++i) {
        if (actual[i] != expected[i]) {
            uint64_t offset = block * BlockSize + i;
            char text[160];
            std::snprintf(text, sizeof text,
                          "byte %llu (sector %llu, offset %llu) is %02x, expected %02x",
                          static_cast<unsigned long long>(offset),
                          static_cast<unsigned long long>(offset / 512),
                          static_cast<unsigned long long>(offset % 512), actual[i], expected[i]);
            return text;
        }
    }
    return "";
}

} // namespace

ImageSnapshot TakeSnapshot(const std::string& path) {
    ImageSnapshot image;
    image.path = path;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        image.size = UINT64_MAX; // no such file
        return image;
    }
    image.size = static_cast<uint64_t>(st.st_size);
    ForEachDataExtent(fd, image.size, [&](uint64_t offset, uint64_t length) {
        for (uint64_t block = offset / BlockSize; block * BlockSize < offset + length; ++block) {
            std::vector<uint8_t> bytes = ReadAt(fd, block * BlockSize, BlockSize);
            if (!AllZero(bytes))
                image.blocks[block] = std::move(bytes);
        }
    });
    close(fd);
    return image;
}

Sector SnapshotSector(const ImageSnapshot& image, uint64_t sector) {
    std::vector<uint8_t> block = BlockOf(image, sector * 512 / BlockSize);
    Sector contents;
    std::memcpy(contents.data(), block.data() + sector * 512 % BlockSize, 512);
    return contents;
}

void SetSnapshotSector(ImageSnapshot& image, uint64_t sector, const Sector& contents) {
    uint64_t block = sector * 512 / BlockSize;
    std::vector<uint8_t> bytes = BlockOf(image, block);
    std::memcpy(bytes.data() + sector * 512 % BlockSize, contents.data(), 512);
    image.blocks[block] = std::move(bytes);
}

std::string DifferenceFrom(const ImageSnapshot& expected) {
    ImageSnapshot actual = TakeSnapshot(expected.path);
    if (actual.size != expected.size)
        return expected.path + ": size " + std::to_string(actual.size) + ", expected " +
               std::to_string(expected.size);
    std::vector<uint64_t> blocks;
    for (const auto& entry : expected.blocks)
        blocks.push_back(entry.first);
    for (const auto& entry : actual.blocks)
        blocks.push_back(entry.first);
    std::sort(blocks.begin(), blocks.end());
    for (uint64_t block : blocks) {
        std::string difference =
            FirstDifferingByte(block, BlockOf(actual, block), BlockOf(expected, block));
        if (!difference.empty())
            return expected.path + ": " + difference;
    }
    return "";
}

void CopySparse(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    struct stat st;
    bool ok = in >= 0 && out >= 0 && fstat(in, &st) == 0 && ftruncate(out, st.st_size) == 0;
    if (ok) {
        ForEachDataExtent(in, static_cast<uint64_t>(st.st_size),
                          [&](uint64_t offset, uint64_t length) {
                              constexpr uint64_t chunk = 1 << 20;
                              for (uint64_t at = offset; at < offset + length; at += chunk) {
                                  uint64_t n = std::min(chunk, offset + length - at);
                                  std::vector<uint8_t> bytes = ReadAt(in, at, n);
                                  ok &= pwrite(out, bytes.data(), n, static_cast<off_t>(at)) ==
                                        static_cast<ssize_t>(n);
                              }
                          });
    }
    if (in >= 0)
        close(in);
    if (out >= 0)
        ok &= close(out) == 0;
    if (!ok)
        ADD_FAILURE() << "cannot copy " << from << " to " << to << ": " << std::strerror(errno);
}

Sector ReadImageSector(const std::string& path, uint64_t sector) {
    Sector contents{};
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || pread(fd, contents.data(), 512, static_cast<off_t>(sector * 512)) != 512)
        ADD_FAILURE() << "cannot read sector " << sector << " of " << path;
    if (fd >= 0)
        close(fd);
    return contents;
}

uint64_t Le(const Sector& sector, unsigned offset, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | sector[offset + i];
    return value;
}

// ---- Sample images ----

namespace {

struct SampleImages {
    bool made = false;
    std::string dir;
    std::string why;
    bool toolsMissing = false;
};

SampleImages& Samples() {
    static SampleImages samples;
    return samples;
}

// Removes the sample images when the test program ends.
class SampleImageEnvironment : public ::testing::Environment {
  public:
    void TearDown() override {
        if (!Samples().dir.empty())
            RemoveTree(Samples().dir);
    }
};

[[maybe_unused]] ::testing::Environment* const SampleEnvironment =
    ::testing::AddGlobalTestEnvironment(new SampleImageEnvironment);

// The script exits with 77 when a tool it needs is not installed.
void MakeSampleImages(SampleImages& samples) {
    samples.made = true;
    std::string dir = MakeTempDir("images");
    std::string log = dir + ".log";
    std::string command = std::string("bash '") + BOOTSIEVE_SOURCE_DIR +
                          "/tests/images/make_images.sh' '" + dir + "' >'" + log + "' 2>&1";
    int status = std::system(command.c_str());
    std::string output = ReadTextFile(log);
    std::remove(log.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        samples.dir = dir;
        return;
    }
    RemoveTree(dir);
    samples.toolsMissing = WIFEXITED(status) && WEXITSTATUS(status) == 77;
    samples.why = "make_images.sh failed: " + output;
}

} // namespace

const std::string& SampleImageDir(std::string* why, bool* toolsMissing) {
    SampleImages& samples = Samples();
    if (!samples.made)
        MakeSampleImages(samples);
    *why = samples.why;
    *toolsMissing = samples.toolsMissing;
    return samples.dir;
}

std::vector<SfdiskPartition> SampleTable(const std::string& name) {
    std::string why;
    bool missing = false;
    std::string dir = SampleImageDir(&why, &missing);
    std::string stem = name.substr(0, name.rfind(".img"));
    std::istringstream dump(ReadTextFile(dir + "/" + stem + ".sfdisk"));
    static const std::regex line(
        R"(\.img(\d+) : start= *(\d+), size= *(\d+), type=([0-9a-f]+)(, bootable)?)");
    std::vector<SfdiskPartition> table;
    std::string text;
    while (std::getline(dump, text)) {
        std::smatch m;
        if (!std::regex_search(text, m, line))
            continue;
        table.push_back({std::stoi(m[1]), std::stoull(m[2]), std::stoull(m[3]),
                         static_cast<unsigned>(std::stoul(m[4], nullptr, 16)), m[5].matched});
    }
    return table;
}

const SfdiskPartition* FindPartition(const std::vector<SfdiskPartition>& table, unsigned type) {
    for (const SfdiskPartition& partition : table)
        if (partition.type == type)
            return &partition;
    return nullptr;
}

std::string CommandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "";
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    return pclose(pipe) == 0 ? output : "";
}

namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// Lines "key: value", "key:value" or "key=value", split at whichever of ':' and
// '=' comes first; quotes around a value are dropped, blanks inside them kept.
std::map<std::string, std::string> KeyValueLines(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t at = line.find_first_of(":=");
        if (at == std::string::npos)
            continue;
        std::string value = Trim(line.substr(at + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        fields.emplace(Trim(line.substr(0, at)), value);
    }
    return fields;
}

} // namespace

std::map<std::string, std::string> MinfoFields(const std::string& image, uint64_t sector) {
    return KeyValueLines(CommandOutput("minfo -i '" + image + "@@" + std::to_string(sector * 512) +
                                       "' 2>/dev/null"));
}

std::map<std::string, std::string> NtfsinfoFields(const std::string& image, uint64_t sector,
                                                  uint64_t count) {
    std::string part = MakeTempDir("ntfsinfo") + "/volume";
    std::string output = CommandOutput(
        "dd if='" + image + "' of='" + part + "' bs=512 skip=" + std::to_string(sector) +
        " count=" + std::to_string(count) + " conv=sparse status=none && ntfsinfo -m -f '" + part +
        "' 2>/dev/null");
    RemoveTree(std::filesystem::path(part).parent_path().string());
    return KeyValueLines(output);
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

std::string Outcome::Report(const std::string& name) const {
    auto it = reports.find(name);
    return it == reports.end() ? "(no report " + name + ")" : it->second;
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

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> ReportNames() {
    std::vector<std::string> names = {"Bootsieve.txt"};
    for (int disk = 0; disk < 10; ++disk) {
        names.push_back("BPB" + std::to_string(disk) + "list.txt");
        names.push_back("Zero" + std::to_string(disk) + "list.txt");
    }
    return names;
}

// The reports in directory; a symbolic link in a report's place is not one.
Outcome Collect(const ProgramRun& run, const std::string& directory, Program program) {
    Outcome outcome{run.exitCode, run.console, run.errors, {}};
    for (const std::string& name : ReportNames()) {
        std::string path = directory + "/" + name;
        if (std::filesystem::is_symlink(path))
            continue;
        bool crlf = false, exists = false;
        std::string text = ReadReport(path, &crlf, &exists);
        if (!exists)
            continue;
        if (program == Program::Windows)
            EXPECT_TRUE(crlf) << name << ": every line must end in CR LF on Windows";
        else
            EXPECT_EQ(ReadTextFile(path).find('\r'), std::string::npos)
                << name << ": lines end in LF alone on Linux";
        outcome.reports[name] = WithoutVersion(text);
    }
    return outcome;
}

// The native program's run on copies of the images, to compare the Windows run with.
struct NativeRun {
    std::string dir;
    std::vector<std::pair<std::string, std::string>> copies; // original, copy
    Outcome outcome;
};

NativeRun RunNativeOnCopies(RunOptions options) {
    NativeRun native;
    native.dir = MakeTempDir("native");
    std::string reports = native.dir + "/reports";
    std::filesystem::create_directory(reports);
    for (size_t i = 0; i < options.drives.size(); ++i) {
        if (!IsRegularFile(options.drives[i]))
            continue;
        std::string copy = native.dir + "/drive" + std::to_string(i) + ".img";
        CopySparse(options.drives[i], copy);
        native.copies.emplace_back(options.drives[i], copy);
        options.drives[i] = copy;
    }
    options.directory = reports;
    native.outcome = Collect(RunProgram(Program::Native, options), reports, Program::Native);
    return native;
}

void ExpectSameAsNative(const Outcome& windows, const NativeRun& native) {
    EXPECT_EQ(windows.exitCode, native.outcome.exitCode) << "exit codes differ";
    EXPECT_EQ(windows.console, native.outcome.console) << "console output differs";
    for (const std::string& name : ReportNames()) {
        EXPECT_EQ(windows.Has(name), native.outcome.Has(name)) << name;
        if (windows.Has(name) && native.outcome.Has(name)) {
            EXPECT_EQ(windows.Report(name), native.outcome.Report(name))
                << name << " differs between the Windows and the native program";
        }
    }
    for (const auto& [original, copy] : native.copies) {
        ImageSnapshot windowsImage = TakeSnapshot(original);
        windowsImage.path = copy;
        EXPECT_EQ(DifferenceFrom(windowsImage), "")
            << "the programs left " << original << " in different states";
    }
}

} // namespace

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
