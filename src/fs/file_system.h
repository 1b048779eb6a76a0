// Read-only FAT12/16/32, NTFS and ext2/3/4 readers: a volume opened at its first
// sector, paths found and directories listed (FAT and NTFS without regard to
// case, ext as Linux does, case and all), every sector read through the device
// layer once per opened volume. The readers know nothing of
// partitions: they are given a first sector, a sector count and the boot sector.
//
// A lookup answers Found, Missing or Unreadable. Unreadable means that the
// volume could not be read or followed on the way: a read failed or fell
// outside the volume, or a structure that leads to the file is broken (a FAT
// chain that loops, reaches a free or out-of-range cluster; an MFT or index
// record that fails its fixup; an attribute, run or index entry that leaves its
// container or the volume; an ext extent, block map or directory entry that
// does). Once a volume is Unreadable, every later lookup says so too: no file
// is called missing on a volume that could not be followed.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

enum class FsKind { Fat, Ntfs, Ext };
enum class FsResult { Found, Missing, Unreadable };

// One name in a directory, or the file found at a path.
struct FsEntry {
    std::string name;      // as stored: the long name, else the 8.3 name with its case flags
    std::string shortName; // the 8.3 name (FAT) or the DOS name (NTFS); "" when none
    bool directory = false;
    bool compressed = false; // NTFS: the unnamed $DATA attribute is compressed
    uint64_t size = 0;
    uint64_t node = 0; // FAT: first cluster (0 for a FAT12/16 root); NTFS: MFT record; ext: inode
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

struct ExtLayout {
    uint64_t blockBytes = 0;
    uint64_t blocks = 0;     // blocks 0 to blocks - 1 exist
    uint64_t firstBlock = 0; // s_first_data_block: 1 with 1 KiB blocks, else 0
    uint64_t blocksPerGroup = 0;
    uint32_t inodesPerGroup = 0;
    uint32_t inodes = 0;
    uint32_t inodeBytes = 0;
    uint32_t descriptorBytes = 0; // 32, or s_desc_size with INCOMPAT_64BIT
    uint32_t firstMetaGroup = 0;  // META_BG: the first group of descriptors kept in its own group
    uint32_t incompat = 0;
    uint32_t roCompat = 0;
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
    ExtLayout ext;
};

// Opens the FAT or NTFS volume whose boot sector, of the drive's sector size, is
// given. False, with the volume Unreadable at first, when its fields do not
// describe a volume that can be followed (bytes per sector other than the
// drive's among them). An ext volume reads its superblock at byte 1024 itself;
// bootSector is then not looked at.
bool OpenFileSystem(FsVolume& volume, FsKind kind, uint64_t first, uint64_t count,
                    const uint8_t* bootSector);

FsEntry RootDirectory(const FsVolume& volume);

// The entry at path ("\Boot\BCD"), matched without regard to case; found->name
// is then the whole path as stored on the volume, with backslashes.
// On ext, path is split at '/' when it holds one ("/boot/grub/grub.cfg"), else
// at '\'; names match exactly, symbolic links are followed (see ext.h), and
// found->name is the path asked for, its empty pieces dropped, joined by that
// separator: a link on the way keeps the name it was asked by.
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
