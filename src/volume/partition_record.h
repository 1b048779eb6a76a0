// What the summary pass saw of the drives and their partitions, kept for the
// sections written after the last drive (the firmware's boot entries), so that
// they are written from what the walk recorded and never by reading disks again.
// Only the summary pass records; a run starts with an empty record.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "layout/gpt_header.h"
#include "layout/guid.h"
#include "layout/volume_identity.h"
#include "layout/volume_kind.h"
#include "output/pass.h"
#include "volume/partition_place.h"

struct DriveRecord {
    bool mbrRead = false;       // a signed MBR was read
    uint32_t diskSignature = 0; // MBR bytes 440 to 443
    bool bootCodeZero = false;  // MBR bytes 0 to 439 all zero
    bool hasGpt = false;        // a GPT header was in use and its entries listed
    unsigned logicals = 0;      // logical partitions recorded so far
    unsigned sectorSize = 512;  // the drive's, when its MBR was read
};

// Whether a partition's boot files were looked for, and on what.
enum class FilesHeld : uint8_t { NotLookedFor, Fat, NotFat, Unreadable };

struct BootFileRecord {
    std::string path; // as stored on the volume: its case, backslashes
    uint64_t size;
};

// What a few records hold beyond their place: a GPT entry's GUIDs, the boot
// files found, what the volume examined is known by.
struct PartitionDetails {
    uint8_t typeGuid[GuidSize] = {};   // GPT entries only
    uint8_t uniqueGuid[GuidSize] = {}; // GPT entries only
    std::vector<BootFileRecord> bootFiles;
    VolumeIdentity identity;
};

// Kept small: a hostile chain may hold a hundred thousand logical partitions,
// and each of them costs this record alone; details are kept aside.
struct PartitionRecord {
    uint64_t first = 0;
    uint64_t count = 0;
    int32_t placeNumber = 0; // the number its PartitionPlace carries
    // As the firmware numbers it: the GPT entry; 1 to 4 for MBR primaries, and
    // 5 on for logical partitions in the order the chain holds them.
    uint32_t number = 0;
    uint32_t details = 0; // 1 + its place among the details; 0 when it has none
    int8_t disk = 0;
    PartitionOrigin origin = PartitionOrigin::Primary;
    uint8_t mbrType = 0;                      // MBR partitions only
    bool efiSystem = false;                   // GPT type C12A7328-..., or MBR type EF
    bool systemVolume = false;                // a type that Windows or Linux is installed on
    VolumeKind content = VolumeKind::Unknown; // what its boot sector holds, when examined
    FilesHeld files = FilesHeld::NotLookedFor;
};

// The record's details; empty ones for a record that has none.
const PartitionDetails& DetailsOf(const PartitionRecord& partition);

// The type as the listing names it.
std::string RecordedTypeName(const PartitionRecord& partition);

void ResetPartitionRecord();

// The signed MBR in sector of a drive; starts the drive's record.
void RecordMbr(Pass pass, int disk, const uint8_t* sector);
// A non-empty primary entry, or a logical partition of an extended chain.
void RecordMbrPartition(const PartitionPlace& place);
// The used entries of the GPT in use on a drive.
void RecordGptEntries(Pass pass, int disk, const std::vector<GptEntry>& entries);
// The file system that the boot sector of the partition at place holds.
void RecordVolumeContent(const PartitionPlace& place, VolumeKind kind);
// What the volume examined in the partition at place is known by.
void RecordVolumeIdentity(const PartitionPlace& place, const VolumeIdentity& identity);
// The boot files of the partition at place were looked for, on FAT, on another
// file system, or on one that could not be read.
void RecordFilesLookedFor(const PartitionPlace& place, FilesHeld held);
// One boot file found on the partition at place.
void RecordBootFile(const PartitionPlace& place, const std::string& path, uint64_t size);

const DriveRecord& RecordedDrive(int disk);
// In the order the walk met them.
const std::deque<PartitionRecord>& RecordedPartitions();

// The identity of the volume examined in the partition; kind "" when none was.
const VolumeIdentity& IdentityOf(const PartitionRecord& partition);
// The partition whose volume has the UUID (compared without regard to case, as
// blkid prints it, "D0A1-B007" or "0d15b007-..."), or the label (exactly), the
// first in the order the walk met them; nullptr when none has, and for "".
const PartitionRecord* FindVolumeByUuid(const std::string& uuid);
const PartitionRecord* FindVolumeByLabel(const std::string& label);
// The partition's PARTUUID as Linux names it: a GPT entry's unique GUID in lower
// case, for an MBR partition the disk signature and the partition's number in
// hex, "1234abcd-05"; "" for an MBR partition of a drive without a signed MBR.
std::string PartUuidOf(const PartitionRecord& partition);
// The partition whose PARTUUID it is (without regard to case); nullptr when none.
const PartitionRecord* FindPartitionByPartUuid(const std::string& partUuid);

// What a file looked up on a recorded partition is.
enum class FileLookup { Found, Missing, NotChecked };

// What the summary pass learned of a BCD store's default entry, for the firmware
// section: where its loader is, or the problem that stands in for it.
struct BcdDefaultRecord {
    int disk = 0;
    uint64_t first = 0; // the store's partition
    std::string path;   // the store's, as the volume holds it
    // When not empty, shown after "BCD " in place of the loader: "has no default
    // entry.", "default \"Windows 11\" names ...".
    std::string problem;
    std::string description;
    std::string device; // the loader's: "disk D #N", or the device's identity
    bool matched = false;
    int loaderDisk = 0;
    int32_t loaderPlace = 0;
    std::string loader;
    FileLookup file = FileLookup::NotChecked;
    uint64_t size = 0;
};

void RecordBcdDefault(const BcdDefaultRecord& record);
// The store at path (without regard to case) on the partition; nullptr when none was read.
const BcdDefaultRecord* RecordedBcdDefault(const PartitionRecord& partition,
                                           const std::string& path);

// Looks a file that is not among the recorded ones up on the partition.
using BootFileLookup = FileLookup (*)(const PartitionRecord& partition, const std::string& path,
                                      uint64_t* size);
// Set once by the program; nullptr leaves a file that was not recorded missing.
void SetBootFileLookup(BootFileLookup lookup);

// The file at path (compared without regard to ASCII case) on the partition:
// found among the recorded files, not checked on a volume that is not FAT or
// could not be read, else what the lookup says, else missing.
FileLookup LookUpBootFile(const PartitionRecord& partition, const std::string& path,
                          uint64_t* size);
