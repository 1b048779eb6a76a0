// Fake firmware trees laid out like /sys/firmware/efi, made in a temporary
// directory from the EFI_LOAD_OPTION layout, on both platforms.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline const char* const GlobalGuid = "8be4df61-93ca-11d2-aa0d-00e098032b8c";

// Device path nodes: any node (its length is 4 plus the body's), a hard drive
// node naming a GPT partition by its unique GUID or an MBR partition by the disk
// signature, a file path, and the end node.
Bytes Node(uint8_t type, uint8_t subtype, const Bytes& body);
Bytes GptNode(uint32_t number, uint64_t start, uint64_t size, const char* guid);
Bytes MbrNode(uint32_t number, uint64_t start, uint64_t size, uint32_t signature);
Bytes FileNode(const std::u16string& path);
inline const Bytes EndNode = {0x7F, 0xFF, 0x04, 0x00};
Bytes operator+(Bytes a, const Bytes& b);

Bytes Utf16(const std::u16string& text);               // with its zero unit
Bytes Numbers(std::initializer_list<unsigned> values); // u16 each, as BootOrder holds them
// Attributes, the file path list's length, the description, the list.
Bytes LoadOptionBytes(uint32_t attributes, const std::u16string& description, const Bytes& path);

struct FirmwareTree {
    std::string root;
    // efivars/NAME-GUID: the attributes 07 00 00 00, then data.
    void Put(const std::string& name, const Bytes& data, const char* guid = GlobalGuid) const;
    // A file of the tree, as it is given.
    void PutFile(const std::string& relative, const Bytes& bytes) const;
};

// An empty directory; fw_platform_size is one of its files like any other.
FirmwareTree MakeFirmwareTree();
void RemoveFirmwareTree(const FirmwareTree& tree);

// BOOTSIEVE_FIRMWARE for the life of the object.
struct ScopedFirmware {
    explicit ScopedFirmware(const std::string& root);
    ~ScopedFirmware();
};
