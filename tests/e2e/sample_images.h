// Sample images made by tests/images/make_images.sh with the real tools, and
// what the peer tools (sfdisk, minfo, ntfsinfo) say of them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

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
