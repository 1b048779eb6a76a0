#include "sample_images.h"

#include <gtest/gtest.h>

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

#include "disk_image.h"
#include "program_run.h"

#ifndef BOOTSIEVE_SOURCE_DIR
#define BOOTSIEVE_SOURCE_DIR "."
#endif

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
