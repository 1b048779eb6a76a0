// Where the firmware's facts come from: a directory laid out like
// /sys/firmware/efi, or the system's own interface. No source ever writes a
// variable. Exactly one system source is linked into a program, as with the
// disk backends: programs linked with the memory disk backend (tests, fuzzer,
// benchmark) get one that has no system firmware.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Variables of the global GUID (BootOrder, Boot####, SecureBoot, ...) and of
// systemd-boot's loader interface, as lower-case text.
constexpr const char* GlobalVariableGuid = "8be4df61-93ca-11d2-aa0d-00e098032b8c";
constexpr const char* LoaderVariableGuid = "4a67b082-0a4c-41cf-b6c7-440b29bb8c4f";

// A variable file of the tree (4 bytes of attributes and the data) larger than
// this is not read.
constexpr size_t MaxVariableFileBytes = size_t{1} << 20;

enum class FirmwareMode { Bios, Uefi };

struct FirmwareFacts {
    FirmwareMode mode = FirmwareMode::Bios;
    int bits = 64;
    bool variablesReadable = false;
    std::string whyUnreadable; // when UEFI variables cannot be read
};

enum class VariableState { Absent, Read, Unreadable };

struct FirmwareVariable {
    VariableState state = VariableState::Absent;
    std::vector<uint8_t> data; // the value, without the attributes
    std::string why;           // when Unreadable
};

struct FirmwareSource {
    // Tells BIOS from UEFI, the bitness, and whether the variables can be read.
    FirmwareFacts (*open)();
    // The variable name of the vendor GUID (lower-case text).
    FirmwareVariable (*read)(const std::string& name, const char* guid);
    // The numbers of the Boot#### variables there are; false when the source
    // cannot list its variables.
    bool (*listBootEntries)(std::vector<unsigned>* numbers);
};

// A directory laid out like /sys/firmware/efi: fw_platform_size ("64" or "32")
// and efivars/, one file per variable named Name-GUID. A root that is no
// directory is a BIOS machine.
const FirmwareSource* TreeFirmware(const std::string& root);

// The machine's own firmware; nullptr where there is none to read.
const FirmwareSource* SystemFirmware();

// The tree that BOOTSIEVE_FIRMWARE names; else nullptr (no firmware section)
// when BOOTSIEVE_DRIVES replaces the drives; else the system's own.
const FirmwareSource* ChooseFirmwareSource();
