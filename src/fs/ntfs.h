// NTFS: the $MFT found from the boot sector and followed through its own data
// runs, MFT and index records with their update sequence fixups, attributes
// (through $ATTRIBUTE_LIST where a file has one), data runs, and directories
// through $INDEX_ROOT and the index blocks of $INDEX_ALLOCATION that $BITMAP
// marks in use, scanned one after the other.
#pragma once

#include <vector>

#include "fs/file_system.h"

// Takes the layout from the boot sector and reads the $MFT's own record; false
// when the volume cannot be followed.
bool OpenNtfs(FsVolume& volume, const uint8_t* bootSector);

FsEntry NtfsRoot(const FsVolume& volume);

// The names of the directory in the Win32, POSIX and DOS name spaces, one entry
// per file: a DOS name becomes the short name of its file's long-name entry.
FsResult NtfsList(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries);

// Size and compressed flag from the file's unnamed $DATA attribute; whether it
// is a directory from its record.
FsResult NtfsDetails(FsVolume& volume, FsEntry& entry);

// The first bytes, up to limit, of the file's unnamed $DATA: resident, or through
// its runs, sparse ones and those past the initialized size read as zeros. A
// compressed stream is not decoded: Unreadable, with the volume left readable.
FsResult NtfsRead(FsVolume& volume, const FsEntry& file, uint64_t limit,
                  std::vector<uint8_t>* bytes);
