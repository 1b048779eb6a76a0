#include "disk_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
#include <filesystem>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

Sector& DiskImage::At(uint64_t sector) {
    auto it = data.find(sector);
    if (it == data.end())
        it = data.emplace(sector, Sector(sectorSize)).first;
    return it->second;
}

Sector DiskImage::Get(uint64_t sector) const {
    auto it = data.find(sector);
    return it == data.end() ? Sector(sectorSize) : it->second;
}

DiskImage BlankDisk(uint64_t sectors, unsigned sectorSize) {
    DiskImage disk;
    disk.sectors = sectors;
    disk.sectorSize = sectorSize;
    return disk;
}

void Sign(DiskImage& disk, uint64_t sector) {
    disk.At(sector)[510] = 0x55;
    disk.At(sector)[511] = 0xAA;
}

void Unsign(DiskImage& disk, uint64_t sector) {
    disk.At(sector)[510] = 0;
    disk.At(sector)[511] = 0;
}

void Fill(DiskImage& disk, uint64_t sector, uint8_t value) {
    disk.At(sector).fill(value);
}

void PutLe(uint8_t* at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutHex(DiskImage& disk, uint64_t sector, unsigned offset, const char* hex) {
    uint8_t* at = disk.At(sector).data() + offset;
    for (const char* p = hex; p[0] && p[1]; p += p[2] ? 3 : 2)
        *at++ = static_cast<uint8_t>(std::stoul(std::string(p, 2), nullptr, 16));
}

void SetEntry(DiskImage& disk, uint64_t tableSector, int index, uint8_t status, uint8_t type,
              uint32_t start, uint32_t count) {
    uint8_t* entry = disk.At(tableSector).data() + 446 + 16 * index;
    entry[0] = status;
    entry[4] = type;
    PutLe(entry + 8, start, 4);
    PutLe(entry + 12, count, 4);
}

void PutTable(DiskImage& disk, uint64_t tableSector, std::initializer_list<TableEntry> entries) {
    int index = 0;
    for (const TableEntry& e : entries)
        SetEntry(disk, tableSector, index++, e.status, e.type, e.start, e.count);
    Sign(disk, tableSector);
}

static uint8_t* BootSectorStart(DiskImage& disk, uint64_t sector, const char* oem) {
    uint8_t* s = disk.At(sector).data();
    s[0] = 0xEB;
    s[1] = 0x52;
    s[2] = 0x90;
    std::memcpy(s + 3, oem, 8);
    PutLe(s + 0x0B, disk.sectorSize, 2);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

void PutNtfsBootSector(DiskImage& disk, uint64_t sector, uint32_t hidden, uint64_t total) {
    uint8_t* s = BootSectorStart(disk, sector, "NTFS    ");
    s[0x0D] = 8;
    s[0x15] = 0xF8;
    PutLe(s + 0x18, 63, 2);
    PutLe(s + 0x1A, 255, 2);
    PutLe(s + 0x1C, hidden, 4);
    PutLe(s + 0x28, total, 8);
    PutLe(s + 0x30, 4, 8);
    PutLe(s + 0x38, total / 16, 8);
    PutLe(s + 0x40, 0xF6, 4);
    PutLe(s + 0x44, 1, 4);
    PutLe(s + 0x48, 0x1234ABCD5678EF90ULL, 8);
}

void PutFat32BootSector(DiskImage& disk, uint64_t sector, uint32_t hidden, uint32_t large,
                        uint16_t backup) {
    uint8_t* s = BootSectorStart(disk, sector, "MSWIN4.1");
    s[0x0D] = 8;
    PutLe(s + 0x0E, 32, 2);
    s[0x10] = 2;
    s[0x15] = 0xF8;
    PutLe(s + 0x18, 63, 2);
    PutLe(s + 0x1A, 255, 2);
    PutLe(s + 0x1C, hidden, 4);
    PutLe(s + 0x20, large, 4);
    PutLe(s + 0x24, 1000, 4);
    PutLe(s + 0x2C, 2, 4);
    PutLe(s + 0x30, 1, 2);
    PutLe(s + 0x32, backup, 2);
    s[0x40] = 0x80;
    s[0x42] = 0x29;
    PutLe(s + 0x43, 0xCAFE1234, 4);
    std::memcpy(s + 0x47, "NO NAME    ", 11);
    std::memcpy(s + 0x52, "FAT32   ", 8);
}

void PutFat16BootSector(DiskImage& disk, uint64_t sector, uint32_t hidden, uint16_t small) {
    uint8_t* s = BootSectorStart(disk, sector, "MSDOS5.0");
    s[0x0D] = 4;
    PutLe(s + 0x0E, 1, 2);
    s[0x10] = 2;
    PutLe(s + 0x11, 512, 2);
    PutLe(s + 0x13, small, 2);
    s[0x15] = 0xF8;
    PutLe(s + 0x16, 20, 2);
    PutLe(s + 0x18, 63, 2);
    PutLe(s + 0x1A, 255, 2);
    PutLe(s + 0x1C, hidden, 4);
    s[0x24] = 0x80;
    s[0x26] = 0x29;
    PutLe(s + 0x27, 0x0BADF00D, 4);
    std::memcpy(s + 0x2B, "BOOTSIEVE  ", 11);
    std::memcpy(s + 0x36, "FAT16   ", 8);
}

void PutMftRecords(DiskImage& disk, uint64_t sector) {
    const Sector boot = disk.Get(sector);
    const uint64_t perCluster = boot[0x0D];
    const uint8_t record[8] = {'F', 'I', 'L', 'E', '0', 0x00, 0x03, 0x00};
    for (unsigned field : {0x30u, 0x38u}) {
        uint64_t cluster = 0;
        for (int i = 7; i >= 0; --i)
            cluster = cluster << 8 | boot[field + i];
        const uint64_t at = sector + cluster * perCluster;
        if (at < disk.sectors)
            std::memcpy(disk.At(at).data(), record, sizeof record);
    }
}

void PutNtfsWithBackup(DiskImage& disk, uint32_t start, uint32_t count) {
    PutNtfsBootSector(disk, start, start, count - 1);
    disk.At(start + count - 1) = disk.At(start);
    PutMftRecords(disk, start);
}

void PutFat32WithBackup(DiskImage& disk, uint32_t start, uint32_t count) {
    PutFat32BootSector(disk, start, start, count, 6);
    disk.At(start + 6) = disk.At(start);
    // The first FAT, after the 32 reserved sectors: the media byte, the end of
    // chain mark, and the root directory's one cluster.
    if (count > 32)
        PutHex(disk, start + 32, 0, "F8 FF FF 0F FF FF FF 0F FF FF FF 0F");
}

std::vector<uint8_t> ToBytes(const DiskImage& disk) {
    const unsigned size = disk.sectorSize;
    std::vector<uint8_t> bytes(disk.sectors * size);
    for (const auto& [sector, contents] : disk.data)
        if (sector < disk.sectors)
            std::memcpy(bytes.data() + sector * size, contents.data(), size);
    return bytes;
}

DiskImage FromBytes(const std::vector<uint8_t>& bytes, unsigned sectorSize) {
    DiskImage disk = BlankDisk(bytes.size() / sectorSize, sectorSize);
    for (uint64_t s = 0; s < disk.sectors; ++s) {
        const uint8_t* at = bytes.data() + s * sectorSize;
        if (std::any_of(at, at + sectorSize, [](uint8_t b) { return b != 0; }))
            std::memcpy(disk.At(s).data(), at, sectorSize);
    }
    return disk;
}

#if defined(_WIN32)

// Sized first, then the sectors that hold data written: the rest reads as zeros.
void WriteImageFile(const std::string& path, const DiskImage& disk) {
    std::error_code error;
    bool created = std::ofstream(path, std::ios::binary).is_open();
    if (created)
        std::filesystem::resize_file(path, disk.sectors * disk.sectorSize, error);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!created || error || !out)
        throw std::runtime_error("cannot create " + path);
    for (const auto& [sector, contents] : disk.data)
        if (sector < disk.sectors) {
            out.seekp(static_cast<std::streamoff>(sector * disk.sectorSize));
            out.write(reinterpret_cast<const char*>(contents.data()), disk.sectorSize);
        }
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

#else

void WriteImageFile(const std::string& path, const DiskImage& disk) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path);
    const unsigned size = disk.sectorSize;
    bool ok = ftruncate(fd, static_cast<off_t>(disk.sectors * size)) == 0;
    for (const auto& [sector, contents] : disk.data)
        if (sector < disk.sectors)
            ok &= pwrite(fd, contents.data(), size, static_cast<off_t>(sector * size)) ==
                  static_cast<ssize_t>(size);
    ok &= close(fd) == 0;
    if (!ok)
        throw std::runtime_error("cannot write " + path);
}

#endif

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The boot checksum as exFAT computes it, over sectors 0 to 10 of the region.
static uint32_t ExFatChecksum(const DiskImage& disk, uint64_t start) {
    const unsigned size = disk.sectorSize;
    uint32_t sum = 0;
    for (unsigned i = 0; i < 11 * size; ++i) {
        if (i == 106 || i == 107 || i == 112)
            continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + disk.Get(start + i / size)[i % size];
    }
    return sum;
}

void PutExFatVolume(DiskImage& disk, uint64_t start, uint64_t length, uint8_t shift) {
    uint8_t* s = disk.At(start).data();
    const uint8_t jump[3] = {0xEB, 0x76, 0x90};
    std::memcpy(s, jump, 3);
    std::memcpy(s + 3, "EXFAT   ", 8);
    PutLe(s + 0x40, start, 8);
    PutLe(s + 0x48, length, 8);
    PutLe(s + 0x50, 2048, 4);
    PutLe(s + 0x54, 16, 4);
    PutLe(s + 0x58, 4096, 4);
    PutLe(s + 0x5C, 1536, 4);
    PutLe(s + 0x60, 5, 4);
    PutLe(s + 0x64, 0x7F9FFB1C, 4);
    PutLe(s + 0x68, 0x0100, 2);
    PutLe(s + 0x6A, 0x0002, 2);
    if (shift == 0)
        for (unsigned size = disk.sectorSize; size > 1; size >>= 1)
            ++shift;
    s[0x6C] = shift;
    s[0x6D] = 3;
    s[0x6E] = 1;
    s[0x6F] = 0x80;
    s[0x70] = 7;
    Sign(disk, start);
    for (uint64_t extended = 1; extended <= 8; ++extended)
        Sign(disk, start + extended); // the extended boot sectors end in 55 AA too
    const uint32_t checksum = ExFatChecksum(disk, start);
    for (unsigned at = 0; at < disk.sectorSize; at += 4)
        PutLe(disk.At(start + 11).data() + at, checksum, 4);
    for (uint64_t i = 0; i < 12; ++i)
        disk.At(start + 12 + i) = disk.Get(start + i);
}

void PutBitLockerBootSector(DiskImage& disk, uint64_t sector) {
    uint8_t* s = BootSectorStart(disk, sector, "-FVE-FS-");
    s[0x0D] = 8;
    Fill(disk, sector + 1, 0xC3); // encrypted data after it
}

// CRC-32 (reflected 0xEDB88320, inverted in and out), bit by bit: the tests'
// own, so that they do not check the program's CRC with itself.
static uint32_t TestCrc32(const uint8_t* bytes, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

// Backwards through the CRC: each state's top byte names the table row that made it.
void ForgeCrc32(uint8_t* bytes, size_t length, size_t at, uint32_t wanted) {
    uint32_t table[256];
    uint8_t rowOfTop[256];
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
        rowOfTop[c >> 24] = static_cast<uint8_t>(i);
    }
    uint32_t before = 0xFFFFFFFFu;
    for (size_t i = 0; i < at; ++i)
        before = (before >> 8) ^ table[(before ^ bytes[i]) & 0xFF];
    uint32_t after = ~wanted;
    auto unprocess = [&](uint32_t state, uint8_t byte) {
        const uint8_t row = rowOfTop[state >> 24];
        return ((state ^ table[row]) << 8) | static_cast<uint8_t>(row ^ byte);
    };
    for (size_t i = length; i > at + 4; --i)
        after = unprocess(after, bytes[i - 1]);
    for (int i = 0; i < 4; ++i)
        after = unprocess(after, 0);
    PutLe(bytes + at, after ^ before, 4);
}

void PutGuid(uint8_t* at, const char* text) {
    unsigned v[11];
    std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &v[0], &v[1], &v[2], &v[3], &v[4],
                &v[5], &v[6], &v[7], &v[8], &v[9], &v[10]);
    PutLe(at, v[0], 4);
    PutLe(at + 4, v[1], 2);
    PutLe(at + 6, v[2], 2);
    for (int i = 0; i < 8; ++i)
        at[8 + i] = static_cast<uint8_t>(v[3 + i]);
}

static void PutGptCopy(DiskImage& disk, const GptLayout& layout, uint64_t headerSector,
                       uint64_t otherSector, uint64_t entriesSector) {
    const uint64_t bytes = uint64_t{layout.entryCount} * layout.entrySize;
    std::vector<uint8_t> array(bytes, 0);
    for (size_t i = 0; i < layout.entries.size() && (i + 1) * layout.entrySize <= bytes; ++i) {
        const GptLayoutEntry& e = layout.entries[i];
        uint8_t* at = array.data() + i * layout.entrySize;
        if (e.type)
            PutGuid(at, e.type);
        char unique[40];
        std::snprintf(unique, sizeof unique, "%08X-0000-4000-8000-0000000000%02X",
                      static_cast<unsigned>(i + 1), static_cast<unsigned>(i + 1));
        PutGuid(at + 0x10, unique);
        PutLe(at + 0x20, e.first, 8);
        PutLe(at + 0x28, e.last, 8);
        PutLe(at + 0x30, e.attributes, 8);
        for (size_t c = 0; c < e.name.size() && c < 36; ++c)
            PutLe(at + 0x38 + 2 * c, e.name[c], 2);
    }
    const unsigned size = disk.sectorSize;
    for (uint64_t s = 0; s * size < bytes; ++s) {
        Sector& sector = disk.At(entriesSector + s);
        sector.fill(0);
        std::memcpy(sector.data(), array.data() + s * size,
                    std::min<uint64_t>(size, bytes - s * size));
    }
    Sector& h = disk.At(headerSector);
    h.fill(0);
    std::memcpy(h.data(), "EFI PART", 8);
    PutLe(h.data() + 0x08, 0x00010000, 4);
    PutLe(h.data() + 0x0C, 92, 4);
    PutLe(h.data() + 0x18, headerSector, 8);
    PutLe(h.data() + 0x20, otherSector, 8);
    PutLe(h.data() + 0x28, layout.firstUsable, 8);
    PutLe(h.data() + 0x30, layout.lastUsable, 8);
    PutGuid(h.data() + 0x38, "5EC7A1B0-0000-4000-8000-00000000D15C");
    PutLe(h.data() + 0x48, entriesSector, 8);
    PutLe(h.data() + 0x50, layout.entryCount, 4);
    PutLe(h.data() + 0x54, layout.entrySize, 4);
    PutLe(h.data() + 0x58, TestCrc32(array.data(), array.size()), 4);
    PutLe(h.data() + 0x10, TestCrc32(h.data(), 92), 4);
}

void PutGpt(DiskImage& disk, const GptLayout& layout) {
    const uint64_t last = disk.sectors - 1;
    const uint64_t arraySectors =
        (uint64_t{layout.entryCount} * layout.entrySize + disk.sectorSize - 1) / disk.sectorSize;
    PutTable(disk, 0,
             {{0x00, 0xEE, 1, static_cast<uint32_t>(std::min<uint64_t>(last, 0xFFFFFFFFu))}});
    PutGptCopy(disk, layout, 1, last, 2);
    PutGptCopy(disk, layout, last, 1, last - arraySectors);
}

GptLayout StandardGpt(uint64_t diskSectors, std::vector<GptLayoutEntry> entries) {
    GptLayout layout;
    layout.firstUsable = 34;
    layout.lastUsable = diskSectors - 34;
    layout.entries = std::move(entries);
    return layout;
}

void ResignGptHeader(DiskImage& disk, uint64_t sector) {
    Sector& h = disk.At(sector);
    const uint32_t size = static_cast<uint32_t>(h[0x0C] | h[0x0D] << 8);
    PutLe(h.data() + 0x10, 0, 4);
    PutLe(h.data() + 0x10, TestCrc32(h.data(), std::min<size_t>(size, h.size())), 4);
}
