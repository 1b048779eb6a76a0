#include "volume/partition_record.h"

#include <algorithm>
#include <cstdio>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/drive_list.h"
#include "layout/mbr_layout.h"
#include "layout/partition_types.h"

namespace {

constexpr const char* EspGuid = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
constexpr uint8_t MbrEspType = 0xEF;
constexpr unsigned DiskSignatureOffset = 440;
constexpr unsigned FirstLogicalNumber = 5;

// The types an operating system is installed on: Windows on basic data, Linux
// on its file system, root, LVM and RAID types (not on home, swap or /boot).
const char* const SystemGptTypes[] = {
    "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "0FC63DAF-8483-4772-8E79-3D69D8477DE4",
    "4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "E6D6D379-F507-44C2-A23C-238F2A3DF928",
    "A19D880F-05FC-4D3B-A006-743F0F84911E",
};
const uint8_t SystemMbrTypes[] = {0x07, 0x83, 0x8E, 0xFD};

DriveRecord Drives[DriveCount];
// A deque: records are never moved, and growing it copies nothing.
std::deque<PartitionRecord> Partitions;
std::deque<PartitionDetails> Details;
std::vector<BcdDefaultRecord> BcdDefaults;
// The record found last. The walk records a partition and then examines it, or
// records a GPT's entries and then examines them in their order, so the one
// looked for is almost always at or just after it.
size_t Cursor = 0;
BootFileLookup Lookup = nullptr;

bool Recording(const PartitionPlace& place) {
    return place.pass == Pass::Summary && place.disk >= 0 && place.disk < DriveCount;
}

bool IsAt(const PartitionRecord& record, const PartitionPlace& place) {
    return record.disk == place.disk && record.origin == place.origin &&
           record.placeNumber == place.number && record.first == place.first;
}

PartitionRecord* Find(const PartitionPlace& place) {
    if (!Recording(place) || Partitions.empty())
        return nullptr;
    for (size_t step = 0; step < Partitions.size(); ++step) {
        const size_t at = (Cursor + step) % Partitions.size();
        if (IsAt(Partitions[at], place)) {
            Cursor = at;
            return &Partitions[at];
        }
    }
    return nullptr;
}

PartitionDetails& DetailsFor(PartitionRecord& record) {
    if (record.details == 0) {
        Details.emplace_back();
        record.details = static_cast<uint32_t>(Details.size());
    }
    return Details[record.details - 1];
}

// The record added last is the one looked for next.
PartitionRecord& Add() {
    Cursor = Partitions.size();
    return Partitions.emplace_back();
}

bool IsAllZero(const uint8_t* bytes, unsigned count) {
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

} // namespace

void ResetPartitionRecord() {
    for (DriveRecord& drive : Drives)
        drive = DriveRecord{};
    Partitions.clear();
    Details.clear();
    BcdDefaults.clear();
    Cursor = 0;
}

void RecordMbr(Pass pass, int disk, const uint8_t* sector) {
    if (pass != Pass::Summary || disk < 0 || disk >= DriveCount)
        return;
    DriveRecord& drive = Drives[disk];
    drive = DriveRecord{};
    drive.mbrRead = true;
    drive.diskSignature = LoadLe32(sector + DiskSignatureOffset);
    drive.sectorSize = DriveSectorSize();
    drive.bootCodeZero = IsAllZero(sector, BootCodeSize);
}

void RecordMbrPartition(const PartitionPlace& place) {
    if (!Recording(place))
        return;
    PartitionRecord& record = Add();
    record.first = place.first;
    record.count = place.count;
    record.disk = static_cast<int8_t>(place.disk);
    record.placeNumber = place.number;
    record.number = static_cast<unsigned>(place.number);
    if (place.origin == PartitionOrigin::Logical)
        record.number = FirstLogicalNumber + Drives[place.disk].logicals++;
    record.origin = place.origin;
    record.mbrType = place.type;
    record.efiSystem = place.type == MbrEspType;
    record.systemVolume = std::find(std::begin(SystemMbrTypes), std::end(SystemMbrTypes),
                                    place.type) != std::end(SystemMbrTypes);
}

void RecordGptEntries(Pass pass, int disk, const std::vector<GptEntry>& entries) {
    if (pass != Pass::Summary || disk < 0 || disk >= DriveCount)
        return;
    Drives[disk].hasGpt = true;
    const size_t first = Partitions.size();
    for (const GptEntry& e : entries) {
        PartitionRecord& record = Add();
        record.first = e.first;
        record.count = e.last - e.first + 1;
        record.disk = static_cast<int8_t>(disk);
        record.placeNumber = static_cast<int32_t>(e.number);
        record.number = e.number;
        record.origin = PartitionOrigin::Gpt;
        PartitionDetails& details = DetailsFor(record);
        std::copy(e.typeGuid, e.typeGuid + GuidSize, details.typeGuid);
        std::copy(e.uniqueGuid, e.uniqueGuid + GuidSize, details.uniqueGuid);
        const std::string type = FormatGuid(e.typeGuid);
        record.efiSystem = type == EspGuid;
        record.systemVolume = std::find(std::begin(SystemGptTypes), std::end(SystemGptTypes),
                                        type) != std::end(SystemGptTypes);
    }
    Cursor = first; // the entries are examined from the first on
}

std::string RecordedTypeName(const PartitionRecord& partition) {
    if (partition.origin != PartitionOrigin::Gpt)
        return PartitionTypeName(partition.mbrType);
    const uint8_t* type = DetailsOf(partition).typeGuid;
    const GptType* known = LookupGptType(type);
    return known ? known->name : FormatGuid(type);
}

void RecordVolumeContent(const PartitionPlace& place, VolumeKind kind) {
    if (PartitionRecord* record = Find(place))
        record->content = kind;
}

void RecordVolumeIdentity(const PartitionPlace& place, const VolumeIdentity& identity) {
    if (PartitionRecord* record = Find(place))
        DetailsFor(*record).identity = identity;
}

void RecordFilesLookedFor(const PartitionPlace& place, FilesHeld held) {
    if (PartitionRecord* record = Find(place))
        record->files = held;
}

void RecordBootFile(const PartitionPlace& place, const std::string& path, uint64_t size) {
    if (PartitionRecord* record = Find(place))
        DetailsFor(*record).bootFiles.push_back({path, size});
}

const DriveRecord& RecordedDrive(int disk) {
    static const DriveRecord none{};
    return disk >= 0 && disk < DriveCount ? Drives[disk] : none;
}

const PartitionDetails& DetailsOf(const PartitionRecord& partition) {
    static const PartitionDetails none{};
    return partition.details ? Details[partition.details - 1] : none;
}

const std::deque<PartitionRecord>& RecordedPartitions() {
    return Partitions;
}

const VolumeIdentity& IdentityOf(const PartitionRecord& partition) {
    return DetailsOf(partition).identity;
}

const PartitionRecord* FindVolumeByUuid(const std::string& uuid) {
    for (const PartitionRecord& partition : Partitions)
        if (!uuid.empty() && SameIgnoringCase(IdentityOf(partition).uuid, uuid))
            return &partition;
    return nullptr;
}

const PartitionRecord* FindVolumeByLabel(const std::string& label) {
    for (const PartitionRecord& partition : Partitions)
        if (!label.empty() && IdentityOf(partition).label == label)
            return &partition;
    return nullptr;
}

std::string PartUuidOf(const PartitionRecord& partition) {
    if (partition.origin == PartitionOrigin::Gpt) {
        std::string guid = FormatGuid(DetailsOf(partition).uniqueGuid);
        std::transform(guid.begin(), guid.end(), guid.begin(), Lower);
        return guid;
    }
    const DriveRecord& drive = RecordedDrive(partition.disk);
    if (!drive.mbrRead)
        return "";
    char text[20];
    std::snprintf(text, sizeof text, "%08x-%02x", static_cast<unsigned>(drive.diskSignature),
                  static_cast<unsigned>(partition.number));
    return text;
}

const PartitionRecord* FindPartitionByPartUuid(const std::string& partUuid) {
    for (const PartitionRecord& partition : Partitions)
        if (!partUuid.empty() && SameIgnoringCase(PartUuidOf(partition), partUuid))
            return &partition;
    return nullptr;
}

void SetBootFileLookup(BootFileLookup lookup) {
    Lookup = lookup;
}

FileLookup LookUpBootFile(const PartitionRecord& partition, const std::string& path,
                          uint64_t* size) {
    for (const BootFileRecord& file : DetailsOf(partition).bootFiles)
        if (SameIgnoringCase(file.path, path)) {
            *size = file.size;
            return FileLookup::Found;
        }
    const bool fat =
        partition.files == FilesHeld::Fat ||
        (partition.files == FilesHeld::NotLookedFor &&
         (partition.content == VolumeKind::Fat || partition.content == VolumeKind::Fat32));
    if (!fat)
        return FileLookup::NotChecked;
    return Lookup ? Lookup(partition, path, size) : FileLookup::Missing;
}

void RecordBcdDefault(const BcdDefaultRecord& record) {
    BcdDefaults.push_back(record);
}

const BcdDefaultRecord* RecordedBcdDefault(const PartitionRecord& partition,
                                           const std::string& path) {
    for (const BcdDefaultRecord& record : BcdDefaults)
        if (record.disk == partition.disk && record.first == partition.first &&
            SameIgnoringCase(record.path, path))
            return &record;
    return nullptr;
}
