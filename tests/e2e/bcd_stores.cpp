#include "bcd_stores.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "disk/byte_order.h"
#include "disk_image.h"
#include "sample_images.h"

const char* const WindowsLoaderId = "{a5a30fa2-3d06-11ee-9ef5-c9bd3a1b9b34}";
const char* const ResumeId = "{a5a30fa3-3d06-11ee-9ef5-c9bd3a1b9b34}";
const char* const RecoveryId = "{a5a30fa4-3d06-11ee-9ef5-c9bd3a1b9b34}";
const char* const EspPartitionGuid = "{11111111-1111-4111-8111-111111111111}";
const char* const WindowsPartitionGuid = "{33333333-3333-4333-8333-333333333333}";
const char* const RecoveryPartitionGuid = "{44444444-4444-4444-8444-444444444444}";
const char* const DiskGuid = "{5ec7a1b0-0000-4000-8000-00000000d15c}";

namespace {

constexpr uint32_t BinBytes = 4096;

void PutCell(std::vector<uint8_t>& bin, size_t at, const std::vector<uint8_t>& data) {
    const size_t size = (data.size() + 4 + 7) / 8 * 8;
    PutLe(bin.data() + at, static_cast<uint32_t>(-static_cast<int32_t>(size)), 4);
    std::memcpy(bin.data() + at + 4, data.data(), data.size());
}

uint32_t Checksum(const std::vector<uint8_t>& hive) {
    uint32_t sum = 0;
    for (unsigned i = 0; i < 508; i += 4)
        sum ^= LoadLe32(hive.data() + i);
    return sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[4];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%s%02x", text.empty() ? "" : ",", b);
        text += pair;
    }
    return text;
}

// A GUID's text without its braces, in its stored order.
void PutBracedGuid(uint8_t* at, const char* text) {
    PutGuid(at, std::string(text).substr(1, 36).c_str());
}

// A partition device: 16 bytes of options, then type, size and the identity.
std::vector<uint8_t> Device(uint32_t type) {
    std::vector<uint8_t> d(0x58, 0);
    PutLe(d.data() + 0x10, type, 4);
    PutLe(d.data() + 0x18, 0x48, 4);
    return d;
}

std::string Utf16Hex(const std::vector<std::string>& strings, unsigned type) {
    std::vector<uint8_t> bytes;
    for (const std::string& s : strings) {
        for (char c : s) {
            bytes.push_back(static_cast<uint8_t>(c));
            bytes.push_back(0);
        }
        bytes.push_back(0);
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return "hex:" + std::to_string(type) + ":" + Hex(bytes);
}

std::string Qword(uint64_t value) {
    std::vector<uint8_t> bytes(8);
    PutLe(bytes.data(), value, 8);
    return "hex:3:" + Hex(bytes);
}

// One object: its type, then each element's value.
std::string Object(const std::string& id, uint32_t type,
                   const std::vector<std::pair<const char*, std::string>>& elements) {
    char typeText[16];
    std::snprintf(typeText, sizeof typeText, "0x%08x", type);
    std::string s =
        "cd \\Objects\nadd " + id + "\ncd " + id + "\nadd Description\ncd Description\n";
    s += "setval 1\nType\ndword:" + std::string(typeText) + "\ncd ..\nadd Elements\n";
    for (const auto& [element, value] : elements)
        s += "cd \\Objects\\" + id + "\\Elements\nadd " + element + "\ncd " + element +
             "\nsetval 1\nElement\n" + value + "\n";
    return s;
}

std::string Store(const std::string& device, const std::string& windows, const char* loader,
                  const char* bootmgr) {
    std::string s = "add Objects\n";
    s += Object("{9dea862c-5cdd-4e70-acc1-f32b344d4795}", 0x10100002,
                {{"11000001", device},
                 {"12000002", std::string("string:") + bootmgr},
                 {"12000004", "string:Windows Boot Manager"},
                 {"23000003", std::string("string:") + WindowsLoaderId},
                 {"24000001", Utf16Hex({WindowsLoaderId}, 7)},
                 {"24000010", Utf16Hex({"{b2721d73-1db4-4c62-bf78-c548a880142d}"}, 7)},
                 {"25000004", Qword(30)}});
    s += Object(WindowsLoaderId, 0x10200003,
                {{"11000001", windows},
                 {"12000002", std::string("string:\\Windows\\system32\\") + loader},
                 {"12000004", "string:Windows 11"},
                 {"21000001", windows},
                 {"22000002", "string:\\Windows"},
                 {"23000006", std::string("string:") + ResumeId}});
    s += Object(ResumeId, 0x10200004,
                {{"11000001", windows},
                 {"12000002", "string:\\Windows\\system32\\winresume.efi"},
                 {"12000004", "string:Windows Resume Application"}});
    s += Object("{b2721d73-1db4-4c62-bf78-c548a880142d}", 0x10200005,
                {{"11000001", BootDevice()},
                 {"12000002", "string:\\EFI\\Microsoft\\Boot\\memtest.efi"},
                 {"12000004", "string:Windows Memory Diagnostic"}});
    return s + "commit\n";
}

} // namespace

std::vector<uint8_t> MinimalHive() {
    std::vector<uint8_t> hive(4096 + BinBytes, 0);
    uint8_t* base = hive.data();
    std::memcpy(base, "regf", 4);
    PutLe(base + 4, 1, 4);
    PutLe(base + 8, 1, 4);
    PutLe(base + 0x14, 1, 4);
    PutLe(base + 0x18, 3, 4);
    PutLe(base + 0x20, 1, 4);
    PutLe(base + 0x24, 0x50, 4); // the root key's cell
    PutLe(base + 0x28, BinBytes, 4);
    PutLe(base + 0x2C, 1, 4);
    std::vector<uint8_t> bin(BinBytes, 0);
    std::memcpy(bin.data(), "hbin", 4);
    PutLe(bin.data() + 8, BinBytes, 4);
    std::vector<uint8_t> sk(0x14 + 20, 0); // a self-relative descriptor with nothing in it
    std::memcpy(sk.data(), "sk", 2);
    PutLe(sk.data() + 4, 0x20, 4);
    PutLe(sk.data() + 8, 0x20, 4);
    PutLe(sk.data() + 12, 1, 4);
    PutLe(sk.data() + 16, 20, 4);
    sk[0x14] = 1;
    sk[0x17] = 0x80;
    PutCell(bin, 0x20, sk);
    std::vector<uint8_t> nk(0x4C + 4, 0);
    std::memcpy(nk.data(), "nk", 2);
    PutLe(nk.data() + 2, 0x2C, 2); // the hive's root, not to be deleted, ASCII name
    for (unsigned field : {0x10u, 0x1Cu, 0x20u, 0x28u, 0x30u})
        PutLe(nk.data() + field, 0xFFFFFFFF, 4);
    PutLe(nk.data() + 0x2C, 0x20, 4);
    PutLe(nk.data() + 0x48, 4, 2);
    std::memcpy(nk.data() + 0x4C, "ROOT", 4);
    PutCell(bin, 0x50, nk);
    PutLe(bin.data() + 0xA8, BinBytes - 0xA8, 4); // the rest free
    std::copy(bin.begin(), bin.end(), hive.begin() + 4096);
    PutLe(base + 0x1FC, Checksum(hive), 4);
    return hive;
}

std::vector<uint8_t> GptDeviceBytes(const char* partitionGuid, const char* diskGuid) {
    std::vector<uint8_t> d = Device(6);
    PutBracedGuid(d.data() + 0x20, partitionGuid);
    PutBracedGuid(d.data() + 0x38, diskGuid);
    return d;
}

std::string GptDevice(const char* partitionGuid, const char* diskGuid) {
    return "hex:3:" + Hex(GptDeviceBytes(partitionGuid, diskGuid));
}

std::string RamdiskDevice(const char* partitionGuid, const char* diskGuid, const char* file) {
    std::vector<uint8_t> d = Device(3);
    d.resize(0x20);
    const std::vector<uint8_t> parent = GptDeviceBytes(partitionGuid, diskGuid);
    d.insert(d.end(), parent.begin() + 0x10, parent.end()); // without its options
    for (const char* c = file;; ++c) {
        d.push_back(static_cast<uint8_t>(*c));
        d.push_back(0);
        if (*c == 0)
            break;
    }
    PutLe(d.data() + 0x18, static_cast<uint32_t>(d.size() - 0x10), 4);
    return "hex:3:" + Hex(d);
}

std::string WithObject(const std::string& script, const std::string& id, uint32_t type,
                       const std::vector<std::pair<const char*, std::string>>& elements) {
    const size_t commit = script.rfind("commit\n");
    return script.substr(0, commit) + Object(id, type, elements) + script.substr(commit);
}

std::string MbrDevice(uint64_t offset, uint32_t signature) {
    std::vector<uint8_t> d = Device(6);
    PutLe(d.data() + 0x20, offset, 8);
    PutLe(d.data() + 0x34, 1, 4);
    PutLe(d.data() + 0x38, signature, 4);
    return "hex:3:" + Hex(d);
}

std::string BootDevice() {
    return "hex:3:" + Hex(Device(5));
}

std::string UefiStoreScript() {
    return Store(GptDevice(EspPartitionGuid, DiskGuid), GptDevice(WindowsPartitionGuid, DiskGuid),
                 "winload.efi", "\\EFI\\Microsoft\\Boot\\bootmgfw.efi");
}

std::string BiosStoreScript() {
    return Store(MbrDevice(1048576, 0x1234ABCD), MbrDevice(105906176, 0x1234ABCD), "winload.exe",
                 "\\bootmgr");
}

std::vector<uint8_t> WriteStore(const std::string& dir, const std::string& name,
                                const std::string& script) {
    const std::string path = dir + "/" + name, commands = path + ".hivexsh";
    const std::vector<uint8_t> minimal = MinimalHive();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(minimal.data()), minimal.size());
    std::ofstream(commands) << script;
    if (std::system(("hivexsh -w '" + path + "' < '" + commands + "' >/dev/null 2>&1").c_str()) !=
        0)
        return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string HivexGet(const std::string& hive, const std::string& key, const std::string& value) {
    return CommandOutput("hivexget '" + hive + "' '" + key + "' '" + value + "' 2>/dev/null");
}

void PutBaseField(std::vector<uint8_t>& hive, unsigned offset, uint32_t value) {
    PutLe(hive.data() + offset, value, 4);
    PutLe(hive.data() + 0x1FC, Checksum(hive), 4);
}

void PointSubkeyListAtItself(std::vector<uint8_t>& hive) {
    const uint32_t root = LoadLe32(hive.data() + 0x24);
    const uint32_t list = LoadLe32(hive.data() + 4096 + root + 4 + 0x1C);
    PutLe(hive.data() + 4096 + list + 4 + 4, list, 4);
}
