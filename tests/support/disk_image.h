// Crafted disk images for tests: a sparse map of the sectors that hold data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

// One sector of a crafted disk: 512 bytes, or the size of its disk's sectors.
struct Sector {
    std::vector<uint8_t> bytes;

    explicit Sector(size_t size = 512) : bytes(size, 0) {}
    uint8_t& operator[](size_t i) { return bytes[i]; }
    uint8_t operator[](size_t i) const { return bytes[i]; }
    uint8_t* data() { return bytes.data(); }
    const uint8_t* data() const { return bytes.data(); }
    size_t size() const { return bytes.size(); }
    auto begin() { return bytes.begin(); }
    auto end() { return bytes.end(); }
    auto begin() const { return bytes.begin(); }
    auto end() const { return bytes.end(); }
    void fill(uint8_t value) { std::fill(bytes.begin(), bytes.end(), value); }
    bool operator==(const Sector&) const = default;
};

struct DiskImage {
    uint64_t sectors = 0;
    unsigned sectorSize = 512;
    std::map<uint64_t, Sector> data; // sectors not listed are zero

    Sector& At(uint64_t sector); // creates a zero sector
    Sector Get(uint64_t sector) const;
};

DiskImage BlankDisk(uint64_t sectors, unsigned sectorSize = 512);
void Sign(DiskImage& disk, uint64_t sector);
void Unsign(DiskImage& disk, uint64_t sector); // zeros bytes 510 and 511
void Fill(DiskImage& disk, uint64_t sector, uint8_t value);
void PutLe(uint8_t* at, uint64_t value, int width);
// The bytes written as hexadecimal pairs separated by blanks ("33 C0 8E"), at offset
// of sector.
void PutHex(DiskImage& disk, uint64_t sector, unsigned offset, const char* hex);
// Entry index 0..3 of the table in sector tableSector.
void SetEntry(DiskImage& disk, uint64_t tableSector, int index, uint8_t status, uint8_t type,
              uint32_t start, uint32_t count);

struct TableEntry {
    uint8_t status = 0;
    uint8_t type = 0;
    uint32_t start = 0;
    uint32_t count = 0;
};
// Entries 0, 1, ... of the table in tableSector, which is signed.
void PutTable(DiskImage& disk, uint64_t tableSector, std::initializer_list<TableEntry> entries);

// Boot sectors with plausible BPBs, signed, at sector.
void PutNtfsBootSector(DiskImage& disk, uint64_t sector, uint32_t hidden, uint64_t total);
void PutFat32BootSector(DiskImage& disk, uint64_t sector, uint32_t hidden, uint32_t large,
                        uint16_t backup);
void PutFat16BootSector(DiskImage& disk, uint64_t sector, uint32_t hidden, uint16_t small);
// The $MFT of an empty NTFS volume where the NTFS boot sector at sector places it:
// its own record, with the first record's copy in the $MFTMirr, and the root
// directory's; none past the disk's end.
void PutMftRecords(DiskImage& disk, uint64_t sector);
// The same for a partition of count sectors at start, with an equal backup copy where
// the format keeps it: NTFS in the partition's last sector, FAT32 six sectors on. The
// NTFS volume has its $MFT and $MFTMirr records, the FAT32 volume its first FAT.
void PutNtfsWithBackup(DiskImage& disk, uint32_t start, uint32_t count);
void PutFat32WithBackup(DiskImage& disk, uint32_t start, uint32_t count);
// The first FAT of the FAT32 volume at start with the root directory's cluster ended.
void PutFat32RootChain(DiskImage& disk, uint64_t start);

// Files on a volume of the builders above, at start: FAT12/16, FAT32 (with its
// root chain) or NTFS (with its $MFT). Directories are made as the paths need
// them; FAT names that are no 8.3 name get a long name, NTFS directories keep
// their names in $INDEX_ROOT alone (a handful each). File data is not written.
struct VolumeFile {
    std::string path; // "\EFI\BOOT\BOOTX64.EFI"
    uint64_t size = 0;
    bool compressed = false; // NTFS: the $DATA attribute's flag
};
// On FAT the contents given for a path are written in a chain of clusters.
void PutFatFiles(DiskImage& disk, uint64_t start, const std::vector<VolumeFile>& files,
                 const std::map<std::string, std::vector<uint8_t>>& contents = {});
void PutNtfsFiles(DiskImage& disk, uint64_t start, const std::vector<VolumeFile>& files);
// An ext4 volume of 4 KiB blocks in one group (at most 128 MiB) at start, labelled
// "root", holding the files: each directory in one block, each file in one
// extent of blocks that hold text where given, zeros else (not written).
void PutExtVolume(DiskImage& disk, uint64_t start, uint64_t sectors,
                  const std::vector<VolumeFile>& files,
                  const std::map<std::string, std::string>& text = {});

// ---- Registry hives ----

struct HiveValueSpec {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct HiveKeySpec {
    std::string name;
    std::vector<HiveValueSpec> values;
    std::vector<HiveKeySpec> subkeys;
};

// A hive as Windows saves one: its base block, then one bin holding the keys
// (ASCII names, lf lists), their value lists and values (data of 4 bytes or
// less inline, of more than 16344 in a db record's segments, the hive then of
// version 1.5), and a free cell up to the bin's end, binBytes at least.
std::vector<uint8_t> HiveBytes(const HiveKeySpec& root, uint32_t binBytes = 4096);

// The BCD store of a UEFI install, about as large as Windows leaves one (28 KiB):
// the boot manager on the ESP, Windows and its resume application on the basic
// data partition, the memory tester, WinRE on a ramdisk from the recovery
// partition, and the settings objects that bcdedit lists.
std::vector<uint8_t> UefiBcdStore(const char* espGuid, const char* windowsGuid,
                                  const char* recoveryGuid, const char* diskGuid);

// An exFAT boot region at start with its checksum sector, and its backup in the
// 12 sectors after it; shift is the bytes-per-sector shift, 0 for the disk's own.
void PutExFatVolume(DiskImage& disk, uint64_t start, uint64_t length, uint8_t shift = 0);
// The boot sector of a BitLocker volume, signed, with encrypted data after it.
void PutBitLockerBootSector(DiskImage& disk, uint64_t sector);

// GUID partition tables: a protective MBR, the primary header at 1 with its
// entries at 2, the backup entries and header at the disk's end, CRCs right.
struct GptLayoutEntry {
    const char* type = nullptr; // type GUID text; nullptr leaves the entry unused
    uint64_t first = 0;
    uint64_t last = 0;
    std::u16string name;
    uint64_t attributes = 0;
};

struct GptLayout {
    uint64_t firstUsable = 34;
    uint64_t lastUsable = 0;
    uint32_t entryCount = 128;
    uint32_t entrySize = 128;
    std::vector<GptLayoutEntry> entries;
};

inline const char* const EspType = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
inline const char* const BasicDataType = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
inline const char* const ReservedType = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";
inline const char* const LinuxType = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

void PutGuid(uint8_t* at, const char* text);
void PutGpt(DiskImage& disk, const GptLayout& layout);
// The usual layout for a disk of diskSectors: usable 34 to diskSectors - 34.
GptLayout StandardGpt(uint64_t diskSectors, std::vector<GptLayoutEntry> entries);
// Changes the four bytes at offset at so that the CRC-32 of the length bytes is
// wanted: an altered entry array that still matches its header's CRC.
void ForgeCrc32(uint8_t* bytes, size_t length, size_t at, uint32_t wanted);
// Recomputes the CRC of the header at sector after a test changed it.
void ResignGptHeader(DiskImage& disk, uint64_t sector);

std::vector<uint8_t> ToBytes(const DiskImage& disk);
DiskImage FromBytes(const std::vector<uint8_t>& bytes, unsigned sectorSize = 512);

// Files: a sparse image file of disk.sectors sectors.
void WriteImageFile(const std::string& path, const DiskImage& disk);
std::vector<uint8_t> ReadWholeFile(const std::string& path);
std::string ReadTextFile(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& text);
