#include "disk_image.h"

#include <algorithm>
#include <array>
#include <cctype>
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
    // 1000 sectors per FAT, fewer where the volume could not hold them.
    PutLe(s + 0x24, large > 2100 ? 1000 : std::max<uint32_t>(1, large / 1024 + 1), 4);
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
    PutNtfsFiles(disk, sector, {});
}

void PutNtfsWithBackup(DiskImage& disk, uint32_t start, uint32_t count) {
    PutNtfsBootSector(disk, start, start, count - 1);
    disk.At(start + count - 1) = disk.At(start);
    PutMftRecords(disk, start);
}

void PutFat32WithBackup(DiskImage& disk, uint32_t start, uint32_t count) {
    PutFat32BootSector(disk, start, start, count, 6);
    disk.At(start + 6) = disk.At(start);
    PutFat32RootChain(disk, start);
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

// ---- Files on crafted volumes ----

namespace {

uint64_t Le(const Sector& s, unsigned at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | s[at + i];
    return value;
}

// Writes bytes from byte offset byte of the disk on; nothing past the disk's end.
void PutBytesAt(DiskImage& disk, uint64_t byte, const std::vector<uint8_t>& bytes) {
    const unsigned size = disk.sectorSize;
    for (uint64_t at = 0; at < bytes.size();) {
        const uint64_t sector = (byte + at) / size, offset = (byte + at) % size;
        const uint64_t n = std::min<uint64_t>(size - offset, bytes.size() - at);
        if (sector >= disk.sectors)
            return;
        std::memcpy(disk.At(sector).data() + offset, bytes.data() + at, n);
        at += n;
    }
}

// Writes bytes from sector first on.
void PutBytes(DiskImage& disk, uint64_t first, const std::vector<uint8_t>& bytes) {
    PutBytesAt(disk, first * disk.sectorSize, bytes);
}

std::vector<std::string> Pieces(const std::string& path) {
    std::vector<std::string> pieces;
    std::stringstream in(path);
    for (std::string piece; std::getline(in, piece, '\\');)
        if (!piece.empty())
            pieces.push_back(piece);
    return pieces;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct FatGeometry {
    uint64_t start, fatSector, fatSectors, fats, rootSector, dataSector, perCluster;
    unsigned bits;
    uint32_t rootCluster;
};

FatGeometry FatGeometryOf(const DiskImage& disk, uint64_t start) {
    const Sector b = disk.Get(start);
    FatGeometry g{};
    g.start = start;
    g.perCluster = b[0x0D];
    g.fats = b[0x10];
    const uint64_t reserved = Le(b, 0x0E, 2), rootEntries = Le(b, 0x11, 2);
    const bool fat32 = Le(b, 0x16, 2) == 0;
    g.fatSectors = fat32 ? Le(b, 0x24, 4) : Le(b, 0x16, 2);
    const uint64_t total = Le(b, 0x13, 2) ? Le(b, 0x13, 2) : Le(b, 0x20, 4);
    g.fatSector = start + reserved;
    g.rootSector = g.fatSector + g.fats * g.fatSectors;
    g.dataSector = g.rootSector + (rootEntries * 32 + disk.sectorSize - 1) / disk.sectorSize;
    const uint64_t clusters = (total - (g.dataSector - start)) / g.perCluster;
    g.bits = fat32 ? 32 : clusters < 4085 ? 12 : 16;
    g.rootCluster = fat32 ? static_cast<uint32_t>(Le(b, 0x2C, 4)) : 0;
    return g;
}

void PutFatEntry(DiskImage& disk, const FatGeometry& g, uint32_t cluster, uint32_t value) {
    for (uint64_t copy = 0; copy < g.fats; ++copy) {
        const unsigned size = disk.sectorSize;
        const uint64_t base = (g.fatSector + copy * g.fatSectors) * size;
        const uint64_t at = base + (g.bits == 12 ? cluster + cluster / 2 : cluster * g.bits / 8);
        const int width = g.bits == 32 ? 4 : 2;
        uint64_t old = 0;
        for (int i = width - 1; i >= 0; --i)
            old = old << 8 | disk.Get((at + i) / size)[(at + i) % size];
        uint64_t word = value;
        if (g.bits == 12)
            word = cluster & 1 ? (old & 0x000F) | (value << 4) : (old & 0xF000) | (value & 0xFFF);
        for (int i = 0; i < width; ++i)
            disk.At((at + i) / size)[(at + i) % size] = static_cast<uint8_t>(word >> (8 * i));
    }
}

using FatSlot = std::array<uint8_t, 32>;

uint8_t FatChecksum(const uint8_t* name) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

// A part of an 8.3 name: short enough, of one case, without the characters it forbids.
bool FitsPart(const std::string& part, size_t width) {
    const bool lower =
        std::any_of(part.begin(), part.end(), [](char c) { return std::islower(c); });
    const bool upper =
        std::any_of(part.begin(), part.end(), [](char c) { return std::isupper(c); });
    return !part.empty() && part.size() <= width && !(lower && upper) &&
           part.find_first_of(" .+,;=[]") == std::string::npos;
}

// The slots naming one file: long-name slots when it has no 8.3 name, then the
// 8.3 slot, with the lower-case flags where one case fits the whole part.
std::vector<FatSlot> FatSlots(const std::string& name, uint8_t attributes, uint32_t cluster,
                              uint32_t size, int& tilde) {
    const size_t dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    const bool fits = FitsPart(base, 8) && (ext.empty() || FitsPart(ext, 3));
    FatSlot entry{};
    std::string shortBase = Upper(base), shortExt = Upper(ext).substr(0, 3);
    if (!fits)
        shortBase = Upper(base).substr(0, 6) + "~" + std::to_string(++tilde);
    std::memset(entry.data(), ' ', 11);
    std::memcpy(entry.data(), shortBase.data(), std::min<size_t>(8, shortBase.size()));
    std::memcpy(entry.data() + 8, shortExt.data(), shortExt.size());
    entry[11] = attributes;
    if (fits && base != Upper(base))
        entry[12] |= 0x08;
    if (fits && ext != Upper(ext))
        entry[12] |= 0x10;
    PutLe(entry.data() + 20, cluster >> 16, 2);
    PutLe(entry.data() + 26, cluster & 0xFFFF, 2);
    PutLe(entry.data() + 28, size, 4);
    std::vector<FatSlot> slots;
    if (!fits) {
        const size_t count = (name.size() + 12) / 13;
        static const int Units[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t n = count; n >= 1; --n) {
            FatSlot slot{};
            slot[0] = static_cast<uint8_t>(n | (n == count ? 0x40 : 0));
            slot[11] = 0x0F;
            slot[13] = FatChecksum(entry.data());
            for (int i = 0; i < 13; ++i) {
                const size_t at = (n - 1) * 13 + i;
                const unsigned unit = at < name.size()    ? static_cast<unsigned char>(name[at])
                                      : at == name.size() ? 0
                                                          : 0xFFFF;
                PutLe(slot.data() + Units[i], unit, 2);
            }
            slots.push_back(slot);
        }
    }
    slots.push_back(entry);
    return slots;
}

// The contents in a chain of clusters from first on; the cluster after its end.
uint32_t PutFatChain(DiskImage& disk, const FatGeometry& g, uint32_t first,
                     const std::vector<uint8_t>& contents, uint32_t endOfChain) {
    const uint64_t clusterBytes = g.perCluster * disk.sectorSize;
    const uint32_t count =
        static_cast<uint32_t>((contents.size() + clusterBytes - 1) / clusterBytes);
    for (uint32_t i = 0; i < count; ++i)
        PutFatEntry(disk, g, first + i, i + 1 < count ? first + i + 1 : endOfChain);
    PutBytes(disk, g.dataSector + (first - 2) * g.perCluster, contents);
    return first + count;
}

struct FatDirectory {
    uint32_t cluster; // 0: the fixed root of FAT12/16
    std::vector<FatSlot> slots;
};

} // namespace

void PutFat32RootChain(DiskImage& disk, uint64_t start) {
    const FatGeometry g = FatGeometryOf(disk, start);
    PutFatEntry(disk, g, 0, 0x0FFFFFF8);
    PutFatEntry(disk, g, 1, 0x0FFFFFFF);
    PutFatEntry(disk, g, g.rootCluster, 0x0FFFFFFF);
}

void PutFatFiles(DiskImage& disk, uint64_t start, const std::vector<VolumeFile>& files,
                 const std::map<std::string, std::vector<uint8_t>>& contents) {
    const FatGeometry g = FatGeometryOf(disk, start);
    const uint32_t endOfChain = g.bits == 12 ? 0xFFF : g.bits == 16 ? 0xFFFF : 0x0FFFFFFF;
    std::map<std::string, FatDirectory> directories = {{"", {g.rootCluster, {}}}};
    uint32_t next = std::max<uint32_t>(2, g.rootCluster + 1);
    int tilde = 0;
    auto add = [&](const std::string& parent, const std::string& name, bool directory,
                   uint32_t size, const std::vector<uint8_t>& contents = {}) {
        const uint32_t cluster = directory || size ? next++ : 0;
        if (cluster)
            PutFatEntry(disk, g, cluster, endOfChain);
        if (cluster && !contents.empty())
            next = PutFatChain(disk, g, cluster, contents, endOfChain);
        for (const FatSlot& slot : FatSlots(name, directory ? 0x10 : 0x20, cluster, size, tilde))
            directories[parent].slots.push_back(slot);
        return cluster;
    };
    for (const VolumeFile& file : files) {
        const std::vector<std::string> pieces = Pieces(file.path);
        std::string parent;
        for (size_t i = 0; i + 1 < pieces.size(); ++i) {
            const std::string path = parent + "\\" + Upper(pieces[i]);
            if (!directories.count(path)) {
                const uint32_t cluster = add(parent, pieces[i], true, 0);
                FatSlot dot{}, dotDot{};
                std::memset(dot.data(), ' ', 11);
                std::memset(dotDot.data(), ' ', 11);
                dot[0] = dotDot[0] = dotDot[1] = '.';
                dot[11] = dotDot[11] = 0x10;
                PutLe(dot.data() + 26, cluster, 2);
                PutLe(dotDot.data() + 26, directories[parent].cluster, 2);
                directories[path] = {cluster, {dot, dotDot}};
            }
            parent = path;
        }
        const auto data = contents.find(file.path);
        add(parent, pieces.back(), false, static_cast<uint32_t>(file.size),
            data == contents.end() ? std::vector<uint8_t>{} : data->second);
    }
    for (const auto& [path, directory] : directories) {
        std::vector<uint8_t> bytes;
        for (const FatSlot& slot : directory.slots)
            bytes.insert(bytes.end(), slot.begin(), slot.end());
        const uint64_t first = directory.cluster == 0
                                   ? g.rootSector
                                   : g.dataSector + (directory.cluster - 2) * g.perCluster;
        PutBytes(disk, first, bytes); // one cluster each: the tests' directories are small
    }
}

namespace {

std::vector<uint8_t> Utf16(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

void Pad8(std::vector<uint8_t>& bytes) {
    bytes.resize((bytes.size() + 7) / 8 * 8, 0);
}

std::vector<uint8_t> NtfsAttribute(uint32_t type, const std::string& name,
                                   const std::vector<uint8_t>& value, bool resident,
                                   uint64_t dataSize, uint16_t flags) {
    const std::vector<uint8_t> name16 = Utf16(name);
    const size_t header = resident ? 0x18 : 0x40;
    std::vector<uint8_t> a(header, 0);
    a.insert(a.end(), name16.begin(), name16.end());
    Pad8(a);
    const size_t valueOffset = a.size();
    a.insert(a.end(), value.begin(), value.end());
    Pad8(a);
    PutLe(a.data(), type, 4);
    PutLe(a.data() + 4, a.size(), 4);
    a[8] = resident ? 0 : 1;
    a[9] = static_cast<uint8_t>(name.size());
    PutLe(a.data() + 10, header, 2);
    PutLe(a.data() + 12, flags, 2);
    if (resident) {
        PutLe(a.data() + 0x10, value.size(), 4);
        PutLe(a.data() + 0x14, valueOffset, 2);
    } else {
        const uint64_t clusters = (dataSize + 4095) / 4096;
        PutLe(a.data() + 0x18, clusters ? clusters - 1 : 0, 8);
        PutLe(a.data() + 0x20, valueOffset, 2);
        PutLe(a.data() + 0x28, clusters * 4096, 8);
        PutLe(a.data() + 0x30, dataSize, 8);
        PutLe(a.data() + 0x38, dataSize, 8);
    }
    return a;
}

// One run of length clusters at lcn (sparse when lcn is 0), in eight-byte fields.
std::vector<uint8_t> NtfsRunList(uint64_t lcn, uint64_t length) {
    std::vector<uint8_t> runs(lcn ? 17 : 9, 0);
    runs[0] = lcn ? 0x88 : 0x08;
    PutLe(runs.data() + 1, length, 8);
    if (lcn)
        PutLe(runs.data() + 9, lcn, 8);
    runs.push_back(0);
    return runs;
}

// A record of 1024 bytes with its update sequence applied (USN 1).
std::vector<uint8_t> NtfsRecord(uint16_t flags,
                                const std::vector<std::vector<uint8_t>>& attributes) {
    std::vector<uint8_t> r(1024, 0);
    std::memcpy(r.data(), "FILE", 4);
    PutLe(r.data() + 4, 0x30, 2);
    PutLe(r.data() + 6, 3, 2);
    PutLe(r.data() + 0x10, 1, 2);
    PutLe(r.data() + 0x12, 1, 2);
    PutLe(r.data() + 0x14, 0x38, 2);
    PutLe(r.data() + 0x16, flags, 2);
    size_t at = 0x38;
    for (const std::vector<uint8_t>& a : attributes) {
        if (at + a.size() + 8 > r.size())
            throw std::runtime_error("NTFS record overflows");
        std::memcpy(r.data() + at, a.data(), a.size());
        at += a.size();
    }
    PutLe(r.data() + at, 0xFFFFFFFF, 4);
    PutLe(r.data() + 0x18, at + 8, 4);
    PutLe(r.data() + 0x1C, 1024, 4);
    PutLe(r.data() + 0x30, 1, 2);
    for (int stride = 1; stride <= 2; ++stride) {
        uint8_t* end = r.data() + stride * 512 - 2;
        std::memcpy(r.data() + 0x30 + 2 * stride, end, 2);
        PutLe(end, 1, 2);
    }
    return r;
}

struct NtfsNode {
    std::string name;
    bool directory = false;
    uint64_t size = 0;
    bool compressed = false;
    uint64_t record = 0;
    uint64_t parent = 0;
    std::vector<size_t> children;
};

std::vector<uint8_t> NtfsIndexRoot(const std::vector<NtfsNode>& nodes, const NtfsNode& directory) {
    std::vector<uint8_t> entries;
    for (size_t child : directory.children) {
        const NtfsNode& n = nodes[child];
        const std::vector<uint8_t> name16 = Utf16(n.name);
        std::vector<uint8_t> e(16 + 0x42, 0);
        e.insert(e.end(), name16.begin(), name16.end());
        Pad8(e);
        PutLe(e.data(), n.record | uint64_t{1} << 48, 8);
        PutLe(e.data() + 8, e.size(), 2);
        PutLe(e.data() + 10, 0x42 + name16.size(), 2);
        PutLe(e.data() + 16, directory.record | uint64_t{1} << 48, 8);
        PutLe(e.data() + 16 + 0x30, n.size, 8);
        PutLe(e.data() + 16 + 0x38, n.directory ? 0x10000000 : 0x20, 4);
        e[16 + 0x40] = static_cast<uint8_t>(n.name.size());
        e[16 + 0x41] = 1; // Win32
        entries.insert(entries.end(), e.begin(), e.end());
    }
    std::vector<uint8_t> last(16, 0);
    PutLe(last.data() + 8, 16, 2);
    PutLe(last.data() + 12, 2, 4);
    entries.insert(entries.end(), last.begin(), last.end());
    std::vector<uint8_t> value(0x20 + entries.size(), 0);
    std::copy(entries.begin(), entries.end(), value.begin() + 0x20);
    PutLe(value.data(), 0x30, 4);
    PutLe(value.data() + 4, 1, 4);
    PutLe(value.data() + 8, 4096, 4);
    value[12] = 1;
    PutLe(value.data() + 0x10, 0x10, 4);
    PutLe(value.data() + 0x14, 0x10 + entries.size(), 4);
    PutLe(value.data() + 0x18, 0x10 + entries.size(), 4);
    return value;
}

} // namespace

void PutNtfsFiles(DiskImage& disk, uint64_t start, const std::vector<VolumeFile>& files) {
    const Sector boot = disk.Get(start);
    const uint64_t perCluster = boot[0x0D];
    std::vector<NtfsNode> nodes(1);
    nodes[0].directory = true;
    nodes[0].record = 5;
    uint64_t nextRecord = 16;
    for (const VolumeFile& file : files) {
        size_t at = 0;
        const std::vector<std::string> pieces = Pieces(file.path);
        for (size_t i = 0; i < pieces.size(); ++i) {
            size_t found = 0;
            for (size_t child : nodes[at].children)
                if (Upper(nodes[child].name) == Upper(pieces[i]))
                    found = child;
            if (!found) {
                found = nodes.size();
                NtfsNode node;
                node.name = pieces[i];
                node.directory = i + 1 < pieces.size();
                node.size = node.directory ? 0 : file.size;
                node.compressed = file.compressed;
                node.record = nextRecord++;
                node.parent = nodes[at].record;
                nodes.push_back(node);
                nodes[at].children.push_back(found);
            }
            at = found;
        }
    }
    const uint64_t mftCluster = Le(boot, 0x30, 8), mirrorCluster = Le(boot, 0x38, 8);
    const uint64_t clusterBytes = perCluster * disk.sectorSize;
    const uint64_t mftClusters = (nextRecord * 1024 + clusterBytes - 1) / clusterBytes;
    std::vector<uint8_t> mft =
        NtfsRecord(1, {NtfsAttribute(0x80, "", NtfsRunList(mftCluster, mftClusters), false,
                                     nextRecord * 1024, 0)});
    auto put = [&](uint64_t record, const std::vector<uint8_t>& bytes) {
        PutBytesAt(disk, (start + mftCluster * perCluster) * disk.sectorSize + record * 1024,
                   bytes);
    };
    put(0, mft);
    PutBytes(disk, start + mirrorCluster * perCluster, mft);
    for (const NtfsNode& n : nodes) {
        std::vector<uint8_t> attribute;
        if (n.directory)
            attribute = NtfsAttribute(0x90, "$I30", NtfsIndexRoot(nodes, n), true, 0, 0);
        else if (n.size <= 256)
            attribute = NtfsAttribute(0x80, "", std::vector<uint8_t>(n.size, 0x42), true, 0,
                                      n.compressed ? 1 : 0);
        else
            attribute =
                NtfsAttribute(0x80, "", NtfsRunList(0, (n.size + clusterBytes - 1) / clusterBytes),
                              false, n.size, n.compressed ? 1 : 0);
        put(n.record, NtfsRecord(n.directory ? 3 : 1, {attribute}));
    }
}

// ---- Registry hives ----

namespace {

constexpr uint32_t HiveBaseBlockBytes = 4096;
constexpr uint32_t HiveBinHeaderBytes = 32;

// Cells appended to one bin; offsets as cells are named, from the bin's start.
struct HiveWriter {
    std::vector<uint8_t> bin = std::vector<uint8_t>(HiveBinHeaderBytes, 0);
    bool bigData = false; // a db record written: the hive is of version 1.5

    uint32_t Cell(const std::vector<uint8_t>& data) {
        const uint32_t at = static_cast<uint32_t>(bin.size());
        const size_t size = (data.size() + 4 + 7) / 8 * 8;
        bin.resize(at + size, 0);
        PutLe(bin.data() + at, static_cast<uint32_t>(-static_cast<int32_t>(size)), 4);
        std::copy(data.begin(), data.end(), bin.begin() + at + 4);
        return at;
    }
};

constexpr size_t HiveSegmentBytes = 16344;

// Data of more than one segment goes in a db record: its segments, their list,
// then the record naming the list.
uint32_t PutHiveData(HiveWriter& hive, const std::vector<uint8_t>& data) {
    if (data.size() <= HiveSegmentBytes)
        return hive.Cell(data);
    std::vector<uint8_t> list;
    for (size_t at = 0; at < data.size(); at += HiveSegmentBytes) {
        const size_t end = std::min(data.size(), at + HiveSegmentBytes);
        list.resize(list.size() + 4);
        PutLe(list.data() + list.size() - 4,
              hive.Cell(std::vector<uint8_t>(data.begin() + at, data.begin() + end)), 4);
    }
    std::vector<uint8_t> db(12, 0);
    std::memcpy(db.data(), "db", 2);
    PutLe(db.data() + 2, list.size() / 4, 2);
    PutLe(db.data() + 4, hive.Cell(list), 4);
    hive.bigData = true;
    return hive.Cell(db);
}

uint32_t PutHiveValue(HiveWriter& hive, const HiveValueSpec& value) {
    std::vector<uint8_t> vk(0x14, 0);
    std::memcpy(vk.data(), "vk", 2);
    PutLe(vk.data() + 2, value.name.size(), 2);
    const uint32_t length = static_cast<uint32_t>(value.data.size());
    if (length <= 4) {
        PutLe(vk.data() + 4, length | 0x80000000u, 4);
        std::copy(value.data.begin(), value.data.end(), vk.begin() + 8);
    } else {
        PutLe(vk.data() + 4, length, 4);
        PutLe(vk.data() + 8, PutHiveData(hive, value.data), 4);
    }
    PutLe(vk.data() + 0xC, value.type, 4);
    PutLe(vk.data() + 0x10, 1, 2); // an ASCII name
    vk.insert(vk.end(), value.name.begin(), value.name.end());
    return hive.Cell(vk);
}

// The key's subkeys first, then its lists, then its own cell. The depth is the
// builder's callers', never a disk's.
uint32_t PutHiveKey(HiveWriter& hive, const HiveKeySpec& key, bool root) {
    std::vector<uint32_t> subkeys, values;
    for (const HiveKeySpec& subkey : key.subkeys)
        subkeys.push_back(PutHiveKey(hive, subkey, false));
    for (const HiveValueSpec& value : key.values)
        values.push_back(PutHiveValue(hive, value));
    std::vector<uint8_t> nk(0x4C, 0);
    std::memcpy(nk.data(), "nk", 2);
    PutLe(nk.data() + 2, root ? 0x2C : 0x20, 2);
    for (unsigned field : {0x1Cu, 0x20u, 0x28u, 0x2Cu, 0x30u})
        PutLe(nk.data() + field, 0xFFFFFFFF, 4);
    if (!subkeys.empty()) {
        std::vector<uint8_t> lf(4, 0);
        std::memcpy(lf.data(), "lf", 2);
        PutLe(lf.data() + 2, subkeys.size(), 2);
        for (size_t i = 0; i < subkeys.size(); ++i) {
            lf.resize(lf.size() + 8, 0);
            PutLe(lf.data() + 4 + i * 8, subkeys[i], 4);
            std::memcpy(lf.data() + 8 + i * 8, key.subkeys[i].name.data(),
                        std::min<size_t>(4, key.subkeys[i].name.size()));
        }
        PutLe(nk.data() + 0x14, subkeys.size(), 4);
        PutLe(nk.data() + 0x1C, hive.Cell(lf), 4);
    }
    if (!values.empty()) {
        std::vector<uint8_t> list(values.size() * 4);
        for (size_t i = 0; i < values.size(); ++i)
            PutLe(list.data() + i * 4, values[i], 4);
        PutLe(nk.data() + 0x24, values.size(), 4);
        PutLe(nk.data() + 0x28, hive.Cell(list), 4);
    }
    PutLe(nk.data() + 0x48, key.name.size(), 2);
    nk.insert(nk.end(), key.name.begin(), key.name.end());
    const uint32_t cell = hive.Cell(nk);
    for (uint32_t subkey : subkeys)
        PutLe(hive.bin.data() + subkey + 4 + 0x10, cell, 4); // the parent
    return cell;
}

std::vector<uint8_t> Utf16z(const std::vector<std::string>& texts) {
    std::vector<uint8_t> bytes;
    for (const std::string& text : texts) {
        for (char c : text) {
            bytes.push_back(static_cast<uint8_t>(c));
            bytes.push_back(0);
        }
        bytes.insert(bytes.end(), {0, 0});
    }
    if (texts.size() != 1)
        bytes.insert(bytes.end(), {0, 0}); // a REG_MULTI_SZ's closing NUL
    return bytes;
}

std::vector<uint8_t> Number(uint64_t value, int width) {
    std::vector<uint8_t> bytes(width);
    PutLe(bytes.data(), value, width);
    return bytes;
}

// 16 bytes of options, the type, 0x48 bytes from the type on.
std::vector<uint8_t> BcdPartition(const char* partitionGuid, const char* diskGuid) {
    std::vector<uint8_t> d(0x58, 0);
    PutLe(d.data() + 0x10, 6, 4);
    PutLe(d.data() + 0x18, 0x48, 4);
    PutGuid(d.data() + 0x20, partitionGuid);
    PutGuid(d.data() + 0x38, diskGuid);
    return d;
}

std::vector<uint8_t> BcdBoot() {
    std::vector<uint8_t> d(0x58, 0);
    PutLe(d.data() + 0x10, 5, 4);
    PutLe(d.data() + 0x18, 0x48, 4);
    return d;
}

// A ramdisk: its parent without options, then the image's path.
std::vector<uint8_t> BcdRamdisk(const char* partitionGuid, const char* diskGuid,
                                const std::string& file) {
    std::vector<uint8_t> d(0x20, 0);
    PutLe(d.data() + 0x10, 3, 4);
    const std::vector<uint8_t> parent = BcdPartition(partitionGuid, diskGuid);
    d.insert(d.end(), parent.begin() + 0x10, parent.end());
    const std::vector<uint8_t> path = Utf16z({file});
    d.insert(d.end(), path.begin(), path.end());
    PutLe(d.data() + 0x18, d.size() - 0x10, 4);
    return d;
}

using BcdElements = std::vector<std::pair<const char*, std::vector<uint8_t>>>;

HiveKeySpec BcdObjectKey(const std::string& id, uint32_t type, const BcdElements& elements) {
    HiveKeySpec object{
        id, {}, {{"Description", {{"Type", 4, Number(type, 4)}}, {}}, {"Elements", {}, {}}}};
    // The element's format, its second digit: strings and objects are REG_SZ,
    // object lists REG_MULTI_SZ, the rest REG_BINARY.
    for (const auto& [element, data] : elements) {
        const char format = element[1];
        const uint32_t type = format == '2' || format == '3' ? 1 : format == '4' ? 7 : 3;
        object.subkeys[1].subkeys.push_back({element, {{"Element", type, data}}, {}});
    }
    return object;
}

} // namespace

std::vector<uint8_t> HiveBytes(const HiveKeySpec& root, uint32_t binBytes) {
    HiveWriter writer;
    const uint32_t rootCell = PutHiveKey(writer, root, true);
    std::vector<uint8_t>& bin = writer.bin;
    const uint32_t used = static_cast<uint32_t>(bin.size());
    const uint32_t size = std::max<uint32_t>(binBytes, (used + 8 + 4095) / 4096 * 4096);
    bin.resize(size, 0);
    PutLe(bin.data() + used, size - used, 4); // the rest free
    std::memcpy(bin.data(), "hbin", 4);
    PutLe(bin.data() + 8, size, 4);
    std::vector<uint8_t> hive(HiveBaseBlockBytes + size, 0);
    std::copy(bin.begin(), bin.end(), hive.begin() + HiveBaseBlockBytes);
    uint8_t* base = hive.data();
    std::memcpy(base, "regf", 4);
    // Both sequence numbers, the version (1.5 with db records, else 1.3),
    // the root cell and the bins' size.
    const std::pair<unsigned, uint32_t> fields[] = {
        {4, 1},    {8, 1},           {0x14, 1},    {0x18, writer.bigData ? 5u : 3u},
        {0x20, 1}, {0x24, rootCell}, {0x28, size}, {0x2C, 1}};
    for (const auto& [field, value] : fields)
        PutLe(base + field, value, 4);
    uint32_t sum = 0;
    for (unsigned i = 0; i < 508; i += 4)
        sum ^= static_cast<uint32_t>(base[i] | base[i + 1] << 8 | base[i + 2] << 16 |
                                     static_cast<uint32_t>(base[i + 3]) << 24);
    PutLe(base + 0x1FC, sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum, 4);
    return hive;
}

std::vector<uint8_t> UefiBcdStore(const char* espGuid, const char* windowsGuid,
                                  const char* recoveryGuid, const char* diskGuid) {
    const std::string loader = "{a5a30fa2-3d06-11ee-9ef5-c9bd3a1b9b34}";
    const std::string resume = "{a5a30fa3-3d06-11ee-9ef5-c9bd3a1b9b34}";
    const std::string recovery = "{a5a30fa4-3d06-11ee-9ef5-c9bd3a1b9b34}";
    const std::string memdiag = "{b2721d73-1db4-4c62-bf78-c548a880142d}";
    const std::vector<uint8_t> esp = BcdPartition(espGuid, diskGuid);
    const std::vector<uint8_t> windows = BcdPartition(windowsGuid, diskGuid);
    const std::vector<uint8_t> winre =
        BcdRamdisk(recoveryGuid, diskGuid, "\\Recovery\\WindowsRE\\Winre.wim");
    HiveKeySpec objects{"Objects", {}, {}};
    auto add = [&](const std::string& id, uint32_t type, const BcdElements& elements) {
        objects.subkeys.push_back(BcdObjectKey(id, type, elements));
    };
    add("{9dea862c-5cdd-4e70-acc1-f32b344d4795}", 0x10100002,
        {{"11000001", esp},
         {"12000002", Utf16z({"\\EFI\\Microsoft\\Boot\\bootmgfw.efi"})},
         {"12000004", Utf16z({"Windows Boot Manager"})},
         {"12000005", Utf16z({"en-US"})},
         {"14000006", Utf16z({"{7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}"})},
         {"23000003", Utf16z({loader})},
         {"24000001", Utf16z({loader, recovery})},
         {"24000010", Utf16z({memdiag})},
         {"25000004", Number(30, 8)},
         {"26000010", Number(1, 1)}});
    add(loader, 0x10200003,
        {{"11000001", windows},
         {"12000002", Utf16z({"\\Windows\\system32\\winload.efi"})},
         {"12000004", Utf16z({"Windows 11"})},
         {"12000005", Utf16z({"en-US"})},
         {"14000006", Utf16z({"{6efb52bf-1766-41db-a6b3-0ee5eff72bd7}"})},
         {"1600007e", Number(1, 1)},
         {"21000001", windows},
         {"22000002", Utf16z({"\\Windows"})},
         {"23000003", Utf16z({resume})},
         {"23000008", Utf16z({recovery})},
         {"25000020", Number(0, 8)},
         {"250000c2", Number(1, 8)}});
    add(resume, 0x10200004,
        {{"11000001", windows},
         {"12000002", Utf16z({"\\Windows\\system32\\winresume.efi"})},
         {"12000004", Utf16z({"Windows Resume Application"})},
         {"12000005", Utf16z({"en-US"})},
         {"14000006", Utf16z({"{1afa9c49-16ab-4a5c-901b-212802da9460}"})},
         {"16000060", Number(1, 1)},
         {"17000077", Number(0x15000075, 8)},
         {"21000001", windows},
         {"22000002", Utf16z({"\\hiberfil.sys"})}});
    add(memdiag, 0x10200005,
        {{"11000001", BcdBoot()},
         {"12000002", Utf16z({"\\EFI\\Microsoft\\Boot\\memtest.efi"})},
         {"12000004", Utf16z({"Windows Memory Diagnostic"})},
         {"12000005", Utf16z({"en-US"})},
         {"14000006", Utf16z({"{7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}"})},
         {"16000020", Number(1, 1)}});
    add(recovery, 0x10200003,
        {{"11000001", winre},
         {"12000002", Utf16z({"\\windows\\system32\\winload.efi"})},
         {"12000004", Utf16z({"Windows Recovery Environment"})},
         {"12000005", Utf16z({"en-US"})},
         {"14000006", Utf16z({"{7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}"})},
         {"16000009", Number(1, 1)},
         {"21000001", winre},
         {"22000002", Utf16z({"\\windows"})},
         {"26000010", Number(1, 1)},
         {"26000022", Number(1, 1)}});
    add("{ae5534e0-a924-466c-b836-758539a3ee3a}", 0x30000000,
        {{"32000004", Utf16z({"\\Recovery\\WindowsRE\\boot.sdi"})},
         {"31000003", BcdPartition(recoveryGuid, diskGuid)}});
    for (const char* settings :
         {"{7ea2e1ac-2e61-4728-aaa3-896d9d0a9f0e}", "{6efb52bf-1766-41db-a6b3-0ee5eff72bd7}",
          "{1afa9c49-16ab-4a5c-901b-212802da9460}", "{4636856e-540f-4170-a130-a84776f4c654}",
          "{0ce4991b-e6b3-4b16-b23c-5e0d9250e5d9}", "{5189b25c-5558-4bf2-bca4-289b11bd29e2}",
          "{7ff607e0-4395-11db-b0de-0800200c9a66}"})
        add(settings, 0x20100000,
            {{"14000006", Utf16z({"{4636856e-540f-4170-a130-a84776f4c654}",
                                  "{0ce4991b-e6b3-4b16-b23c-5e0d9250e5d9}"})},
             {"15000011", Number(4, 8)},
             {"15000013", Number(1, 8)},
             {"15000014", Number(115200, 8)}});
    add("{a5a30fa2-3d06-11ee-9ef5-c9bd3a1b9b35}", 0x10100001,
        {{"12000004", Utf16z({"Firmware Boot Manager"})},
         {"24000001", Utf16z({"{9dea862c-5cdd-4e70-acc1-f32b344d4795}"})},
         {"25000004", Number(0, 8)}});
    HiveKeySpec root{
        "ROOT", {}, {{"Description", {{"KeyName", 1, Utf16z({"BCD00000000"})}}, {}}, objects}};
    return HiveBytes(root, 28 * 1024 - HiveBaseBlockBytes);
}

namespace {

constexpr uint64_t ExtBlock = 4096;
constexpr uint32_t ExtInodeBytes = 256;
constexpr uint32_t ExtInodes = 64;
constexpr uint64_t ExtInodeTable = 4; // after the superblock, descriptors and two bitmaps

struct ExtNode {
    uint32_t inode;
    bool directory;
    uint64_t size;
    std::string path;                                     // a file's, as given
    uint64_t block = 0;                                   // the first of its blocks
    std::vector<std::pair<std::string, size_t>> children; // names and nodes
};

std::vector<uint8_t> ExtInode(const ExtNode& node) {
    std::vector<uint8_t> inode(ExtInodeBytes, 0);
    PutLe(inode.data(), node.directory ? 0x41ED : 0x81A4, 2);
    PutLe(inode.data() + 0x04, node.size, 4);
    PutLe(inode.data() + 0x6C, node.size >> 32, 4);
    PutLe(inode.data() + 0x1A, node.directory ? 2 : 1, 2);
    PutLe(inode.data() + 0x20, 0x80000, 4); // extents
    const uint64_t blocks = (node.size + ExtBlock - 1) / ExtBlock;
    PutLe(inode.data() + 0x1C, blocks * ExtBlock / 512, 4);
    const uint8_t header[] = {0x0A, 0xF3, 1, 0, 4, 0, 0, 0};
    std::memcpy(inode.data() + 0x28, header, sizeof header);
    PutLe(inode.data() + 0x28 + 16, blocks, 2);
    PutLe(inode.data() + 0x28 + 20, node.block, 4);
    PutLe(inode.data() + 0x80, 32, 2);
    return inode;
}

std::vector<uint8_t> ExtDirectoryBlock(const std::vector<ExtNode>& nodes, const ExtNode& node,
                                       uint32_t parent) {
    std::vector<uint8_t> block(ExtBlock, 0);
    size_t at = 0, last = 0;
    auto entry = [&](const std::string& name, uint32_t inode, bool directory) {
        last = at;
        PutLe(block.data() + at, inode, 4);
        PutLe(block.data() + at + 4, (8 + name.size() + 3) / 4 * 4, 2);
        block[at + 6] = static_cast<uint8_t>(name.size());
        block[at + 7] = directory ? 2 : 1;
        std::memcpy(block.data() + at + 8, name.data(), name.size());
        at += (8 + name.size() + 3) / 4 * 4;
    };
    entry(".", node.inode, true);
    entry("..", parent, true);
    for (const auto& [name, child] : node.children)
        entry(name, nodes[child].inode, nodes[child].directory);
    PutLe(block.data() + last + 4, ExtBlock - last, 2);
    return block;
}

} // namespace

void PutExtVolume(DiskImage& disk, uint64_t start, uint64_t sectors,
                  const std::vector<VolumeFile>& files,
                  const std::map<std::string, std::string>& text) {
    const uint64_t blocks = sectors * disk.sectorSize / ExtBlock;
    std::vector<ExtNode> nodes = {{2, true, ExtBlock, "", 0, {}}};
    std::vector<uint32_t> parents = {2};
    uint64_t next = ExtInodeTable + ExtInodes * ExtInodeBytes / ExtBlock;
    for (const VolumeFile& file : files) {
        std::string path = file.path;
        std::replace(path.begin(), path.end(), '/', '\\');
        const std::vector<std::string> pieces = Pieces(path);
        size_t at = 0;
        for (size_t i = 0; i < pieces.size(); ++i) {
            const bool last = i + 1 == pieces.size();
            auto& children = nodes[at].children;
            auto found = std::find_if(children.begin(), children.end(),
                                      [&](const auto& c) { return c.first == pieces[i]; });
            if (found != children.end() && !last) {
                at = found->second;
                continue;
            }
            const uint32_t inode = static_cast<uint32_t>(nodes.size() + 10); // from 11 on
            nodes[at].children.emplace_back(pieces[i], nodes.size());
            parents.push_back(nodes[at].inode);
            nodes.push_back(
                {inode, !last, last ? file.size : ExtBlock, last ? file.path : "", 0, {}});
            at = nodes.size() - 1;
        }
    }
    const uint64_t volume = start * disk.sectorSize;
    for (size_t i = 0; i < nodes.size(); ++i) {
        ExtNode& node = nodes[i];
        node.block = next;
        next += (node.size + ExtBlock - 1) / ExtBlock;
        const uint64_t slot = node.inode - 1;
        PutBytesAt(disk, volume + ExtInodeTable * ExtBlock + slot * ExtInodeBytes, ExtInode(node));
        if (node.directory)
            PutBytesAt(disk, volume + node.block * ExtBlock,
                       ExtDirectoryBlock(nodes, node, parents[i]));
    }
    for (const ExtNode& node : nodes)
        if (auto it = text.find(node.path); it != text.end())
            PutBytesAt(disk, volume + node.block * ExtBlock,
                       std::vector<uint8_t>(it->second.begin(), it->second.end()));
    std::vector<uint8_t> super(1024, 0);
    PutLe(super.data() + 0x00, ExtInodes, 4);
    PutLe(super.data() + 0x04, blocks, 4);
    PutLe(super.data() + 0x18, 2, 4); // 4 KiB blocks
    PutLe(super.data() + 0x20, 32768, 4);
    PutLe(super.data() + 0x28, ExtInodes, 4);
    PutLe(super.data() + 0x38, 0xEF53, 2);
    PutLe(super.data() + 0x4C, 1, 4);
    PutLe(super.data() + 0x54, 11, 4);
    PutLe(super.data() + 0x58, ExtInodeBytes, 2);
    PutLe(super.data() + 0x60, 0x0042, 4); // file types in entries, extents
    PutLe(super.data() + 0x64, 0x0003, 4); // sparse superblocks, large files
    const uint8_t uuid[16] = {0x2F, 0x6F, 0x1B, 0x1E, 0, 0, 0x40, 0, 0x80, 0, 0, 0, 0, 0, 0, 1};
    std::memcpy(super.data() + 0x68, uuid, sizeof uuid); // 2f6f1b1e-0000-4000-8000-000000000001
    std::memcpy(super.data() + 0x78, "root", 4);
    PutBytesAt(disk, volume + 1024, super);
    std::vector<uint8_t> descriptor(32, 0);
    PutLe(descriptor.data() + 0x00, 2, 4);
    PutLe(descriptor.data() + 0x04, 3, 4);
    PutLe(descriptor.data() + 0x08, ExtInodeTable, 4);
    PutLe(descriptor.data() + 0x10, nodes.size(), 2); // directories used, roughly
    PutBytesAt(disk, volume + ExtBlock, descriptor);
}
