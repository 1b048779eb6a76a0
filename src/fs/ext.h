// ext2, ext3 and ext4: the superblock at byte 1024, group descriptors of 32 or
// 64 bytes (where META_BG puts them too), inodes of any size, extent trees and
// classic block maps, directories read linearly (an htree's index blocks read as
// entries of inode 0 and are passed over), inline data, and symbolic links.
//
// Of the incompatible features, those that change what the reader reads make the
// volume Unreadable when set: compression, a journal device (no files at all),
// directory entries with extra data (DIRDATA), and any bit not known here. The
// others (file types in entries, journal recovery, extents, 64-bit, MMP, flexible
// groups, xattr inodes, checksum seed, large directories, inline data,
// encryption, case folding) it reads or may pass by. No read-only feature
// changes the structures read: they are all accepted.
#pragma once

#include <string>
#include <vector>

#include "fs/file_system.h"

// Reads the superblock at byte 1024 and the root directory's inode; false when
// they describe no volume that can be followed.
bool OpenExt(FsVolume& volume);

FsEntry ExtRoot(const FsVolume& volume);

// The entries of a directory in the order its blocks hold them; the directory
// flag from the entry's file type, else from the inode.
FsResult ExtList(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries);

// Size and directory flag from the entry's inode; Missing for an inode not in use.
FsResult ExtDetails(FsVolume& volume, FsEntry& entry);

// The path from the root. A symbolic link, inside the path or at its end, is
// followed (eight links at most, then the path is Missing); an absolute target
// starts at the volume's root, a relative one at the link's directory, and ".."
// stops at the root: a link never leaves the volume.
FsResult ExtFindPath(FsVolume& volume, const std::string& path, FsEntry* found);

// The first bytes of the file, up to limit; holes and unwritten extents read as zeros.
FsResult ExtRead(FsVolume& volume, const FsEntry& file, uint64_t limit,
                 std::vector<uint8_t>* bytes);
