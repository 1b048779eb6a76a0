#include "firmware_tree.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "disk_image.h"

namespace fs = std::filesystem;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Node(uint8_t type, uint8_t subtype, const Bytes& body) {
    Bytes node = {type, subtype, 0, 0};
    PutLe(node.data() + 2, 4 + body.size(), 2);
    return node + body;
}

static Bytes HardDrive(uint32_t number, uint64_t start, uint64_t size, const uint8_t* signature,
                       uint8_t format) {
    Bytes body(38, 0);
    PutLe(body.data(), number, 4);
    PutLe(body.data() + 4, start, 8);
    PutLe(body.data() + 12, size, 8);
    std::copy(signature, signature + 16, body.data() + 20);
    body[36] = format; // 1 MBR, 2 GPT
    body[37] = format; // the signature type: 1 MBR disk signature, 2 GUID
    return Node(4, 1, body);
}

Bytes GptNode(uint32_t number, uint64_t start, uint64_t size, const char* guid) {
    uint8_t signature[16];
    PutGuid(signature, guid);
    return HardDrive(number, start, size, signature, 2);
}

Bytes MbrNode(uint32_t number, uint64_t start, uint64_t size, uint32_t disk) {
    uint8_t signature[16] = {};
    PutLe(signature, disk, 4);
    return HardDrive(number, start, size, signature, 1);
}

Bytes Utf16(const std::u16string& text) {
    Bytes bytes;
    for (char16_t unit : text + u'\0')
        bytes.insert(bytes.end(), {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)});
    return bytes;
}

Bytes FileNode(const std::u16string& path) {
    return Node(4, 4, Utf16(path));
}

Bytes Numbers(std::initializer_list<unsigned> values) {
    Bytes bytes;
    for (unsigned value : values)
        bytes.insert(bytes.end(), {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
    return bytes;
}

Bytes LoadOptionBytes(uint32_t attributes, const std::u16string& description, const Bytes& path) {
    Bytes head(6, 0);
    PutLe(head.data(), attributes, 4);
    PutLe(head.data() + 4, path.size(), 2);
    return head + Utf16(description) + path;
}

void FirmwareTree::PutFile(const std::string& relative, const Bytes& bytes) const {
    const fs::path path = fs::path(root) / relative;
    fs::create_directories(path.parent_path());
    FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

void FirmwareTree::Put(const std::string& name, const Bytes& data, const char* guid) const {
    PutFile("efivars/" + name + "-" + guid, Bytes{7, 0, 0, 0} + data);
}

FirmwareTree MakeFirmwareTree() {
    std::random_device random;
    fs::path root;
    do
        root = fs::temp_directory_path() / ("bootsieve-firmware-" + std::to_string(random()));
    while (!fs::create_directory(root));
    return {root.string()};
}

void RemoveFirmwareTree(const FirmwareTree& tree) {
    std::error_code ec;
    fs::remove_all(tree.root, ec);
}

ScopedFirmware::ScopedFirmware(const std::string& root) {
#if defined(_WIN32)
    _putenv_s("BOOTSIEVE_FIRMWARE", root.c_str());
#else
    setenv("BOOTSIEVE_FIRMWARE", root.c_str(), 1);
#endif
}

ScopedFirmware::~ScopedFirmware() {
#if defined(_WIN32)
    _putenv_s("BOOTSIEVE_FIRMWARE", "");
#else
    unsetenv("BOOTSIEVE_FIRMWARE");
#endif
}
