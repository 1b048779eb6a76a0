#include "fs/fs_path.h"

#include <algorithm>

#include "disk/disk_device.h"
#include "fs/ext.h"
#include "fs/fat.h"
#include "fs/file_system.h"
#include "fs/ntfs.h"
#include "fs/volume_reads.h"

namespace {

// Byte offsets within a volume stay far from 2^64: 2^50 sectors of 4096 bytes.
constexpr uint64_t MaxVolumeSectors = uint64_t{1} << 50;

char FoldAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool Matches(const FsEntry& entry, const std::string& name) {
    return SameName(entry.name, name) ||
           (!entry.shortName.empty() && SameName(entry.shortName, name));
}

} // namespace

std::vector<std::string> SplitPath(const std::string& path) {
    return SplitPath(path, '\\');
}

std::vector<std::string> SplitPath(const std::string& path, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : path + separator) {
        if (c != separator) {
            piece += c;
        } else if (!piece.empty()) {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    return pieces;
}

bool IsDotName(const std::string& name) {
    return name == "." || name == "..";
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

bool OpenFileSystem(FsVolume& volume, FsKind kind, uint64_t first, uint64_t count,
                    const uint8_t* bootSector) {
    volume = FsVolume{};
    volume.kind = kind;
    volume.first = first;
    volume.count = std::min(count, MaxVolumeSectors);
    volume.sectorSize = DriveSectorSize();
    const bool opened = kind == FsKind::Fat    ? OpenFat(volume, bootSector)
                        : kind == FsKind::Ntfs ? OpenNtfs(volume, bootSector)
                                               : OpenExt(volume);
    if (!opened)
        MarkUnreadable(volume, 0);
    return opened;
}

FsEntry RootDirectory(const FsVolume& volume) {
    return volume.kind == FsKind::Fat    ? FatRoot(volume)
           : volume.kind == FsKind::Ntfs ? NtfsRoot(volume)
                                         : ExtRoot(volume);
}

FsResult ListDirectory(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries) {
    entries->clear();
    if (volume.unreadable)
        return FsResult::Unreadable;
    const FsResult result = volume.kind == FsKind::Fat    ? FatList(volume, directory, entries)
                            : volume.kind == FsKind::Ntfs ? NtfsList(volume, directory, entries)
                                                          : ExtList(volume, directory, entries);
    return volume.unreadable ? FsResult::Unreadable : result;
}

FsResult ReadEntryDetails(FsVolume& volume, FsEntry& entry) {
    if (volume.unreadable)
        return FsResult::Unreadable;
    const FsResult result = volume.kind == FsKind::Fat    ? FsResult::Found
                            : volume.kind == FsKind::Ntfs ? NtfsDetails(volume, entry)
                                                          : ExtDetails(volume, entry);
    return volume.unreadable ? FsResult::Unreadable : result;
}

FsResult ReadFileContent(FsVolume& volume, const FsEntry& file, uint64_t limit,
                         std::vector<uint8_t>* bytes) {
    bytes->clear();
    if (volume.unreadable)
        return FsResult::Unreadable;
    if (file.directory)
        return FsResult::Missing;
    const FsResult result = volume.kind == FsKind::Fat
                                ? FatRead(volume, file, std::min(file.size, limit), bytes)
                            : volume.kind == FsKind::Ntfs ? NtfsRead(volume, file, limit, bytes)
                                                          : ExtRead(volume, file, limit, bytes);
    if (result != FsResult::Found)
        bytes->clear();
    return volume.unreadable ? FsResult::Unreadable : result;
}

FsResult FindPath(FsVolume& volume, const std::string& path, FsEntry* found) {
    if (volume.unreadable)
        return FsResult::Unreadable;
    if (volume.kind == FsKind::Ext)
        return ExtFindPath(volume, path, found);
    FsEntry at = RootDirectory(volume);
    std::string stored;
    std::vector<FsEntry> entries;
    for (const std::string& name : SplitPath(path)) {
        if (!at.directory)
            return FsResult::Missing;
        const FsResult listed = ListDirectory(volume, at, &entries);
        if (listed != FsResult::Found)
            return listed;
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const FsEntry& e) { return Matches(e, name); });
        if (it == entries.end())
            return FsResult::Missing;
        at = *it;
        stored += "\\" + at.name;
    }
    const FsResult details = ReadEntryDetails(volume, at);
    if (details != FsResult::Found)
        return details;
    at.name = stored.empty() ? "\\" : stored;
    *found = at;
    return FsResult::Found;
}
