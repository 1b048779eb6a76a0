// Read-only FAT12/16/32 and NTFS readers: a volume opened at its first sector,
// paths found and directories listed without regard to case, every sector read
// through the device layer once per opened volume. The readers know nothing of
// partitions: they are given a first sector, a sector count and the boot sector.
//
// A lookup answers Found, Missing or Unreadable. Unreadable means that the
// volume could not be read or followed on the way: a read failed or fell
// outside the volume, or a structure that leads to the file is broken (a FAT
// chain that loops, reaches a free or out-of-range cluster; an MFT or index
// record that fails its fixup; an attribute, run or index entry that leaves its
// container or the volume). Once a volume is Unreadable, every later lookup
// says so too: no file is called missing on a volume that could not be followed.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

enum class FsKind { Fat, Ntfs };
enum class FsResult { Found, Missing, Unreadable };

// One name in a directory, or the file found at a path.
struct FsEntry {
    std::string name;      // as stored: the long name, else the 8.3 name with its case flags
    std::string shortName; // the 8.3 name (FAT) or the DOS name (NTFS); "" when none
    bool directory = false;
    bool compressed = false; // NTFS: the unnamed $DATA attribute is compressed
    uint64_t size = 0;
    uint64_t node = 0;     // FAT: first cluster (0 for a FAT12/16 root); NTFS: MFT record
    uint16_t sequence = 0; // NTFS: the sequence number the reference names
    uint64_t where = 0;    // byte offset in the volume of the entry that names it
};

struct FatLayout {
    unsigned bits = 0; // 12, 16 or 32
    uint64_t fatOffset = 0;
    uint64_t fatBytes = 0;
    uint64_t rootOffset = 0; // FAT12/16: the fixed root directory
    uint64_t rootBytes = 0;
    uint64_t dataOffset = 0;
    uint64_t clusterBytes = 0;
    uint32_t clusters = 0; // clusters 2 to clusters + 1 exist
    uint32_t rootCluster = 0;
};

// A stretch of clusters of a non-resident attribute; lcn is meaningless when sparse.
struct NtfsRun {
    uint64_t vcn = 0;
    uint64_t lcn = 0;
    uint64_t length = 0;
    bool sparse = false;
};

struct NtfsLayout {
    uint64_t clusterBytes = 0;
    uint64_t clusters = 0;
    uint32_t recordBytes = 0;
    uint32_t indexBytes = 0;
    uint64_t mftOffset = 0; // where $MFT's first record lies
    std::vector<NtfsRun> mftRuns;
    uint64_t mftBytes = 0;
};

struct FsVolume {
    FsKind kind = FsKind::Fat;
    uint64_t first = 0; // absolute sector of the boot sector
    uint64_t count = 0; // sectors that may be read
    unsigned sectorSize = 0;
    bool unreadable = false;
    uint64_t unreadableAt = 0;                                // absolute sector
    std::unordered_map<uint64_t, std::vector<uint8_t>> cache; // sector in the volume -> bytes
    uint64_t cachedBytes = 0;
    FatLayout fat;
    NtfsLayout ntfs;
};

// Opens the FAT or NTFS volume whose boot sector, of the drive's sector size, is
// given. False, with the volume Unreadable at first, when its fields do not
// describe a volume that can be followed (bytes per sector other than the
// drive's among them).
bool OpenFileSystem(FsVolume& volume, FsKind kind, uint64_t first, uint64_t count,
                    const uint8_t* bootSector);

FsEntry RootDirectory(const FsVolume& volume);

// The entry at path ("\Boot\BCD"), matched without regard to case; found->name
// is then the whole path as stored on the volume, with backslashes.
FsResult FindPath(FsVolume& volume, const std::string& path, FsEntry* found);

// The names in the directory, in the order stored, without "." and "..";
// entries past the 65,536th are not looked at.
FsResult ListDirectory(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries);

// Completes an entry of a listing with its size and flags (NTFS keeps them in the
// file's own record); Missing when the record is no longer in use.
FsResult ReadEntryDetails(FsVolume& volume, FsEntry& entry);

// The bytes of a file, at most limit of them (fewer when the file is shorter), read through the
// volume's cache.
FsResult ReadFileContent(FsVolume& volume, const FsEntry& file, uint64_t limit,
                         std::vector<uint8_t>* bytes);

// Names equal without regard to ASCII case.
bool SameName(const std::string& a, const std::string& b);
