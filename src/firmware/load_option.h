// A boot entry's value, the EFI_LOAD_OPTION: attributes (u32), the length of
// the file path list (u16), a description of UTF-16 units ending in a zero unit,
// the file path list (device path nodes of type, subtype and a u16 length,
// closed by an end node), and optional data. Parsed as hostile data: nothing is
// read outside the value, and the first thing wrong ends the parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Hard drive node (type 4, subtype 1), 42 bytes in all.
struct HardDriveNode {
    uint32_t partitionNumber;
    uint64_t start;
    uint64_t size;
    uint8_t signature[16]; // a GPT unique GUID, or an MBR disk signature in its first 4 bytes
    uint8_t signatureType; // 1 MBR disk signature, 2 GUID
};

constexpr uint8_t MbrSignatureType = 1;
constexpr uint8_t GuidSignatureType = 2;

enum class LoadTarget {
    Partition,           // a hard drive node with a signature
    Legacy,              // a legacy BIOS device node (type 5)
    FirmwareApplication, // a firmware volume file (type 4, subtype 6)
    Other,               // a path without a partition: a network boot, a bare device
};

struct LoadOption {
    bool active = false;    // attribute bit 0
    bool described = false; // the description was read
    std::string description;
    std::string damage; // what is wrong; empty when the option holds
    LoadTarget target = LoadTarget::Other;
    HardDriveNode partition{}; // for Partition
    bool hasFile = false;      // file path nodes follow the hard drive node
    std::string file;          // their path names, joined
};

LoadOption ParseLoadOption(const uint8_t* data, size_t size);

// "Boot" and four upper-case hexadecimal digits, exactly.
bool BootEntryNumber(const std::string& name, unsigned* number);
