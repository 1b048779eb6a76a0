#include "bootconfig/bcd_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "bootconfig/bcd.h"
#include "disk/disk_device.h"
#include "fs/file_system.h"
#include "layout/sector_size_probe.h"
#include "layout/volume_kind.h"
#include "output/output.h"
#include "volume/boot_files.h"
#include "volume/partition_record.h"

namespace {

// Control bytes of a store's text shown as '.', so that a store cannot add lines to a report.
std::string Shown(const std::string& text) {
    std::string shown = text;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '.';
    return shown;
}

// Where a device lies among the partitions recorded; nullptr when on none.
const PartitionRecord* MatchDevice(const BcdDevice& device) {
    for (const PartitionRecord& p : RecordedPartitions()) {
        const bool gpt = device.kind == BcdDeviceKind::GptPartition &&
                         p.origin == PartitionOrigin::Gpt &&
                         std::memcmp(DetailsOf(p).uniqueGuid, device.partitionGuid, GuidSize) == 0;
        const DriveRecord& drive = RecordedDrive(p.disk);
        const bool mbr = device.kind == BcdDeviceKind::MbrPartition &&
                         p.origin != PartitionOrigin::Gpt && drive.mbrRead &&
                         drive.diskSignature == device.signature &&
                         p.first * drive.sectorSize == device.offset;
        if (gpt || mbr)
            return &p;
    }
    return nullptr;
}

bool Checkable(const BcdDevice& device) {
    return device.kind == BcdDeviceKind::GptPartition || device.kind == BcdDeviceKind::MbrPartition;
}

bool Readable(const PartitionRecord& p) {
    return p.content == VolumeKind::Ntfs || p.content == VolumeKind::Fat32 ||
           p.content == VolumeKind::Fat;
}

// What a path on an entry's device is.
struct Lookup {
    FsResult result = FsResult::Unreadable; // Unreadable: not checked
    FsEntry entry;
};

Lookup LookUp(FsVolume* volume, const std::string& path) {
    Lookup lookup;
    if (volume && !path.empty() && !volume->unreadable)
        lookup.result = FindPath(*volume, path, &lookup.entry);
    return lookup;
}

bool IsMissing(const Lookup& lookup, bool directory) {
    return lookup.result == FsResult::Missing ||
           (lookup.result == FsResult::Found && lookup.entry.directory != directory);
}

bool IsWindowsEntry(const BcdObject& o) {
    return o.type == BcdWindowsLoader || o.type == BcdWindowsResume;
}

const char* const BootManagerId = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";

const BcdObject* DefaultEntry(const BcdStore& bcd) {
    const BcdObject* manager = FindBcdObject(bcd, BootManagerId);
    return manager && !manager->defaultId.empty() ? FindBcdObject(bcd, manager->defaultId)
                                                  : nullptr;
}

std::string Formatted(const char* format, ...) BOOTSIEVE_PRINTF(1, 2);
std::string Formatted(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// ---- The store's entries, listed in the detail pass ----

// Paths looked up on the store's own volume for a boot device, on a recorded
// NTFS or FAT partition of this drive otherwise.
struct StoreContext {
    const PartitionPlace& place;
    FsVolume& volume;
    std::string path;
    std::map<uint64_t, FsVolume> opened; // by first sector: each volume opened once a store
};

FsVolume* OpenedVolume(StoreContext& store, const PartitionRecord& p) {
    if (p.first == store.volume.first)
        return &store.volume;
    auto [it, added] = store.opened.try_emplace(p.first);
    if (added)
        OpenRecordedVolume(it->second, p);
    return &it->second;
}

Lookup LookUpOn(StoreContext& store, const BcdDevice& device, const std::string& path) {
    if (device.kind == BcdDeviceKind::Boot)
        return LookUp(&store.volume, path);
    const PartitionRecord* p = Checkable(device) ? MatchDevice(device) : nullptr;
    const bool here = p && p->disk == store.place.disk && Readable(*p);
    return LookUp(here ? OpenedVolume(store, *p) : nullptr, path);
}

std::string DeviceText(const BcdDevice& device) {
    if (device.kind == BcdDeviceKind::Ramdisk && !device.parent.empty())
        return "ramdisk [" + DeviceText(device.parent.front()) + "]" + Shown(device.file);
    const PartitionRecord* p = Checkable(device) ? MatchDevice(device) : nullptr;
    if (!p)
        return BcdDeviceIdentity(device);
    return "disk " + std::to_string(p->disk) + " #" + std::to_string(p->placeNumber);
}

std::string Presence(const Lookup& lookup, bool directory) {
    if (lookup.result == FsResult::Unreadable)
        return "not checked";
    if (IsMissing(lookup, directory))
        return "missing";
    return directory ? "directory" : std::to_string(lookup.entry.size) + " bytes";
}

bool IsManager(const BcdObject& o) {
    return o.type == BcdBootManager || o.type == BcdFirmwareBootManager;
}

void ListObject(StoreContext& store, const BcdObject& o) {
    Report("   %s %s\n", Shown(BcdObjectName(o.id)).c_str(), BcdTypeName(o.type).c_str());
    if (!o.description.empty())
        Report("      description %s\n", Shown(o.description).c_str());
    if (o.hasDevice)
        Report("      device %s\n", DeviceText(o.device).c_str());
    if (!o.path.empty())
        Report("      path %s: %s\n", Shown(o.path).c_str(),
               Presence(LookUpOn(store, o.device, o.path), false).c_str());
    // A resume application's elements of these numbers name its hibernation
    // file; a loader's, the Windows it starts and its resume object.
    const bool resume = o.type == BcdWindowsResume;
    if (o.hasOsDevice)
        Report("      %s %s\n", resume ? "file device" : "OS device",
               DeviceText(o.osDevice).c_str());
    if (!o.systemRoot.empty())
        Report("      %s %s: %s\n", resume ? "hibernation file" : "system root",
               Shown(o.systemRoot).c_str(),
               Presence(LookUpOn(store, o.osDevice, o.systemRoot), !resume).c_str());
    if (!o.defaultId.empty())
        Report("      %s %s\n", IsManager(o) ? "default" : "resume object",
               Shown(BcdObjectName(o.defaultId)).c_str());
    for (const std::string& id : o.displayOrder)
        Report("      display order %s\n", Shown(BcdObjectName(id)).c_str());
    if (o.hasTimeout)
        Report("      timeout %llu\n", Ull(o.timeout));
}

// The boot manager first, then the display order, then the rest.
std::vector<const BcdObject*> InOrder(const BcdStore& bcd) {
    std::vector<const BcdObject*> order;
    auto add = [&](const BcdObject* o) {
        if (o && std::find(order.begin(), order.end(), o) == order.end())
            order.push_back(o);
    };
    const BcdObject* manager = FindBcdObject(bcd, BootManagerId);
    add(manager);
    if (manager)
        for (const std::string& id : manager->displayOrder)
            add(FindBcdObject(bcd, id));
    for (const BcdObject& o : bcd.objects)
        add(&o);
    return order;
}

// ---- The entries checked once every drive is walked ----

// A store the summary pass read. Its entries may name partitions of drives not
// yet walked, so they are checked after the last drive; the detail pass shows
// the same problems under the store.
struct StoreRead {
    int disk = 0;
    uint64_t first = 0;
    int number = 0;
    std::string path;
    std::string unreadable; // the reason, when the store is no readable hive
    BcdStore bcd;
    std::vector<std::string> problems; // whole lines
};

std::vector<StoreRead> Stores;

// The volumes opened for those checks, all on the drive opened last.
struct Lookups {
    int disk = -1;
    bool opened = false;
    std::map<uint64_t, FsVolume> volumes; // by first sector
};

FsVolume* VolumeOf(Lookups& lookups, const PartitionRecord& p) {
    if (!Readable(p))
        return nullptr;
    if (lookups.disk != p.disk) {
        if (lookups.opened)
            CloseDisk();
        lookups.volumes.clear();
        lookups.disk = p.disk;
        lookups.opened = OpenDiskProbed(p.disk) != 0;
    }
    if (!lookups.opened)
        return nullptr;
    auto [it, added] = lookups.volumes.try_emplace(p.first);
    if (added)
        OpenRecordedVolume(it->second, p);
    return &it->second;
}

// The problem of an entry's device and the file it names there, after the
// store's prefix; "" when none. With whereToo false only the file's.
// A ramdisk's image on its parent partition, on any file system that can be read.
std::string RamdiskProblem(Lookups& lookups, const BcdObject& o, const BcdDevice& ramdisk) {
    const BcdDevice& parent = ramdisk.parent.front();
    if (!Checkable(parent))
        return "";
    const PartitionRecord* p = MatchDevice(parent);
    const std::string description = Shown(o.description);
    if (!p)
        return Formatted("\"%s\" names %s, which is on no disk examined.", description.c_str(),
                         BcdDeviceIdentity(parent).c_str());
    if (!IsMissing(LookUp(VolumeOf(lookups, *p), ramdisk.file), false))
        return "";
    return Formatted("\"%s\" loads %s from disk %d #%d, where it is missing.", description.c_str(),
                     Shown(ramdisk.file).c_str(), p->disk, p->placeNumber);
}

std::string DeviceProblem(Lookups& lookups, const BcdObject& o, const BcdDevice& device,
                          const std::string& path, bool directory, bool whereToo) {
    if (device.kind == BcdDeviceKind::Ramdisk && !device.parent.empty())
        return whereToo ? RamdiskProblem(lookups, o, device) : "";
    if (!Checkable(device))
        return "";
    const PartitionRecord* p = MatchDevice(device);
    const std::string description = Shown(o.description);
    if (!p)
        return whereToo ? Formatted("\"%s\" names %s, which is on no disk examined.",
                                    description.c_str(), BcdDeviceIdentity(device).c_str())
                        : "";
    if (p->content != VolumeKind::Ntfs)
        return whereToo ? Formatted("\"%s\" is on disk %d #%d, which holds %s, not NTFS.",
                                    description.c_str(), p->disk, p->placeNumber,
                                    p->content == VolumeKind::Unknown ? "no file system"
                                                                      : VolumeKindName(p->content))
                        : "";
    if (!IsMissing(LookUp(VolumeOf(lookups, *p), path), directory))
        return "";
    return Formatted("\"%s\" loads %s from disk %d #%d, where it is missing.", description.c_str(),
                     Shown(path).c_str(), p->disk, p->placeNumber);
}

bool SameDevice(const BcdDevice& a, const BcdDevice& b) {
    return BcdDeviceIdentity(a) == BcdDeviceIdentity(b);
}

// An OS device that is the application device adds only its system root. A
// resume application's hibernation file is not weighed: without it Windows
// starts afresh.
std::vector<std::string> EntryProblems(Lookups& lookups, const BcdObject& o) {
    std::vector<std::string> problems;
    auto add = [&](const std::string& problem) {
        if (!problem.empty())
            problems.push_back(problem);
    };
    if (o.hasDevice)
        add(DeviceProblem(lookups, o, o.device, o.path, false, true));
    if (o.hasOsDevice && !o.systemRoot.empty() && o.type != BcdWindowsResume)
        add(DeviceProblem(lookups, o, o.osDevice, o.systemRoot, true,
                          !o.hasDevice || !SameDevice(o.device, o.osDevice)));
    return problems;
}

const PartitionRecord* StorePartition(const StoreRead& store) {
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.disk == store.disk && p.first == store.first)
            return &p;
    return nullptr;
}

// Where the default entry's loader is, for the firmware section.
void RecordDefault(Lookups& lookups, const StoreRead& store) {
    BcdDefaultRecord record;
    record.disk = store.disk;
    record.first = store.first;
    record.path = store.path;
    const BcdObject* entry = store.unreadable.empty() ? DefaultEntry(store.bcd) : nullptr;
    if (!store.unreadable.empty())
        record.problem = "is not a readable registry hive (" + store.unreadable +
                         "); its entries are not checked.";
    else if (!entry)
        record.problem = "has no default entry.";
    if (!entry)
        return RecordBcdDefault(record);
    const std::vector<std::string> problems = EntryProblems(lookups, *entry);
    if (!problems.empty())
        record.problem = "default " + problems.front();
    record.description = Shown(entry->description);
    record.loader = Shown(entry->path);
    const PartitionRecord* p = entry->device.kind == BcdDeviceKind::Boot ? StorePartition(store)
                               : Checkable(entry->device) ? MatchDevice(entry->device)
                                                          : nullptr;
    record.device = BcdDeviceIdentity(entry->device);
    if (p) {
        record.matched = true;
        record.loaderDisk = p->disk;
        record.loaderPlace = p->placeNumber;
        const Lookup lookup = LookUp(VolumeOf(lookups, *p), entry->path);
        record.file = lookup.result == FsResult::Unreadable ? FileLookup::NotChecked
                      : IsMissing(lookup, false)            ? FileLookup::Missing
                                                            : FileLookup::Found;
        record.size = lookup.entry.size;
    }
    RecordBcdDefault(record);
}

} // namespace

void ExamineBcdStore(const PartitionPlace& place, FsVolume& volume, const std::string& path) {
    StoreContext store{place, volume, Shown(path), {}};
    FsEntry file;
    std::vector<uint8_t> bytes;
    if (FindPath(volume, path, &file) != FsResult::Found ||
        ReadFileContent(volume, file, HiveMaxBytes, &bytes) != FsResult::Found)
        return; // the boot files say when the volume cannot be read
    Hive hive;
    StoreRead read{place.disk, place.first, place.number, store.path, "", {}, {}};
    if (!OpenHive(hive, std::move(bytes)) || !ReadBcdStore(hive, &read.bcd)) {
        Report("#%d %s is not a readable registry hive (%s); its entries are not checked.\n",
               place.number, store.path.c_str(), hive.reason.c_str());
        read.unreadable = hive.reason;
    } else {
        if (InDetail(place)) {
            Report(">> Disk %d #%d %s:\n", place.disk, place.number, store.path.c_str());
            for (const BcdObject* o : InOrder(read.bcd))
                ListObject(store, *o);
        }
        if (!read.bcd.savedCleanly)
            Report("#%d %s was not saved cleanly: Windows will replay its .LOG files at boot.\n",
                   place.number, store.path.c_str());
        if (!DefaultEntry(read.bcd))
            Report("#%d %s: no default entry.\n", place.number, store.path.c_str());
    }
    if (!InDetail(place)) {
        Stores.push_back(std::move(read));
        return;
    }
    for (const StoreRead& s : Stores)
        if (s.disk == place.disk && s.first == place.first && s.path == store.path)
            for (const std::string& line : s.problems)
                ReportLine(line.c_str());
}

void CheckBcdStores() {
    Lookups lookups;
    for (StoreRead& store : Stores) {
        for (const BcdObject& o : store.bcd.objects)
            if (IsWindowsEntry(o))
                for (const std::string& problem : EntryProblems(lookups, o))
                    store.problems.push_back(
                        Formatted("#%d %s: %s", store.number, store.path.c_str(), problem.c_str()));
        for (const std::string& line : store.problems)
            ReportLine(line.c_str());
        RecordDefault(lookups, store);
    }
    if (lookups.opened)
        CloseDisk();
}

void ResetBcdStores() {
    Stores.clear();
}
