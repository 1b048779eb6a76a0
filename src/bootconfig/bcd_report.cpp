#include "bootconfig/bcd_report.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "bootconfig/bcd.h"
#include "disk/disk_device.h"
#include "fs/file_system.h"
#include "layout/volume_kind.h"
#include "output/output.h"
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
                         p.first * DriveSectorSize() == device.offset;
        if (gpt || mbr)
            return &p;
    }
    return nullptr;
}

bool Checkable(const BcdDevice& device) {
    return device.kind == BcdDeviceKind::GptPartition || device.kind == BcdDeviceKind::MbrPartition;
}

// What a path on an entry's device is: looked up on the store's own volume for
// a boot device, on a recorded NTFS or FAT partition of this drive otherwise.
struct Lookup {
    FsResult result = FsResult::Unreadable; // Unreadable: not checked
    FsEntry entry;
};

struct StoreContext {
    const PartitionPlace& place;
    FsVolume& volume;
    std::string path;
    std::map<uint64_t, FsVolume> opened; // by first sector: each volume opened once a store
};

// The volume of a recorded partition of this drive, opened once per store; the
// store's own volume is the one the boot files read.
FsVolume* OpenedVolume(StoreContext& store, const PartitionRecord& p) {
    if (p.first == store.volume.first)
        return &store.volume;
    auto it = store.opened.find(p.first);
    if (it != store.opened.end())
        return &it->second;
    FsVolume& volume = store.opened[p.first];
    std::vector<uint8_t> boot(DriveSectorSize());
    SeekSector(p.first);
    if (!ReadSector()) {
        volume.unreadable = true;
        return &volume;
    }
    std::memcpy(boot.data(), SectorBuffer, boot.size());
    const FsKind kind = p.content == VolumeKind::Ntfs ? FsKind::Ntfs : FsKind::Fat;
    OpenFileSystem(volume, kind, p.first, p.count, boot.data());
    return &volume;
}

Lookup LookUpOn(StoreContext& store, const BcdDevice& device, const std::string& path) {
    Lookup lookup;
    if (path.empty())
        return lookup;
    if (device.kind == BcdDeviceKind::Boot) {
        lookup.result = FindPath(store.volume, path, &lookup.entry);
        return lookup;
    }
    const PartitionRecord* p = Checkable(device) ? MatchDevice(device) : nullptr;
    const bool readable = p && p->disk == store.place.disk &&
                          (p->content == VolumeKind::Ntfs || p->content == VolumeKind::Fat32 ||
                           p->content == VolumeKind::Fat);
    if (readable)
        lookup.result = FindPath(*OpenedVolume(store, *p), path, &lookup.entry);
    return lookup;
}

std::string DeviceText(const BcdDevice& device) {
    const PartitionRecord* p = Checkable(device) ? MatchDevice(device) : nullptr;
    if (!p)
        return BcdDeviceIdentity(device);
    return "disk " + std::to_string(p->disk) + " #" + std::to_string(p->placeNumber);
}

std::string Presence(const Lookup& lookup, bool directory) {
    if (lookup.result == FsResult::Unreadable)
        return "not checked";
    if (lookup.result == FsResult::Missing || lookup.entry.directory != directory)
        return "missing";
    return directory ? "directory" : std::to_string(lookup.entry.size) + " bytes";
}

bool IsMissing(const Lookup& lookup, bool directory) {
    return lookup.result == FsResult::Missing ||
           (lookup.result == FsResult::Found && lookup.entry.directory != directory);
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
    if (o.hasOsDevice)
        Report("      OS device %s\n", DeviceText(o.osDevice).c_str());
    if (!o.systemRoot.empty())
        Report("      system root %s: %s\n", Shown(o.systemRoot).c_str(),
               Presence(LookUpOn(store, o.osDevice, o.systemRoot), true).c_str());
    if (!o.defaultId.empty())
        Report("      default %s\n", Shown(BcdObjectName(o.defaultId)).c_str());
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
    const BcdObject* manager = FindBcdObject(bcd, "{9dea862c-5cdd-4e70-acc1-f32b344d4795}");
    add(manager);
    if (manager)
        for (const std::string& id : manager->displayOrder)
            add(FindBcdObject(bcd, id));
    for (const BcdObject& o : bcd.objects)
        add(&o);
    return order;
}

bool IsWindowsEntry(const BcdObject& o) {
    return o.type == BcdWindowsLoader || o.type == BcdWindowsResume;
}

void ReportMissing(StoreContext& store, const BcdObject& o, const BcdDevice& device,
                   const std::string& path, bool directory, const PartitionRecord* p) {
    if (p->content == VolumeKind::Ntfs && IsMissing(LookUpOn(store, device, path), directory))
        Report("#%d %s: \"%s\" loads %s from disk %d #%d, where it is missing.\n",
               store.place.number, store.path.c_str(), Shown(o.description).c_str(),
               Shown(path).c_str(), p->disk, p->placeNumber);
}

void ReportDevice(StoreContext& store, const BcdObject& o, const BcdDevice& device,
                  const std::string& path, bool directory) {
    if (!Checkable(device))
        return;
    const PartitionRecord* p = MatchDevice(device);
    const std::string description = Shown(o.description);
    if (!p)
        Report("#%d %s: \"%s\" names %s, which is on no disk examined.\n", store.place.number,
               store.path.c_str(), description.c_str(), BcdDeviceIdentity(device).c_str());
    else if (p->content != VolumeKind::Ntfs)
        Report("#%d %s: \"%s\" is on disk %d #%d, which holds %s, not NTFS.\n", store.place.number,
               store.path.c_str(), description.c_str(), p->disk, p->placeNumber,
               p->content == VolumeKind::Unknown ? "no file system" : VolumeKindName(p->content));
    else
        ReportMissing(store, o, device, path, directory, p);
}

bool SameDevice(const BcdDevice& a, const BcdDevice& b) {
    return BcdDeviceIdentity(a) == BcdDeviceIdentity(b);
}

// Each once per store: an OS device that is the application device adds only
// its system root.
void ReportEntries(StoreContext& store, const BcdStore& bcd) {
    for (const BcdObject& o : bcd.objects) {
        if (!IsWindowsEntry(o))
            continue;
        if (o.hasDevice)
            ReportDevice(store, o, o.device, o.path, false);
        if (!o.hasOsDevice || o.systemRoot.empty())
            continue;
        if (!o.hasDevice || !SameDevice(o.device, o.osDevice))
            ReportDevice(store, o, o.osDevice, o.systemRoot, true);
        else if (const PartitionRecord* p =
                     Checkable(o.osDevice) ? MatchDevice(o.osDevice) : nullptr)
            ReportMissing(store, o, o.osDevice, o.systemRoot, true, p);
    }
}

void ReportDefault(StoreContext& store, const BcdStore& bcd) {
    const BcdObject* manager = FindBcdObject(bcd, "{9dea862c-5cdd-4e70-acc1-f32b344d4795}");
    if (!manager || manager->defaultId.empty() || !FindBcdObject(bcd, manager->defaultId))
        Report("#%d %s: no default entry.\n", store.place.number, store.path.c_str());
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
    BcdStore bcd;
    if (!OpenHive(hive, std::move(bytes)) || !ReadBcdStore(hive, &bcd)) {
        Report("#%d %s is not a readable registry hive (%s); its entries are not checked.\n",
               place.number, store.path.c_str(), hive.reason.c_str());
        return;
    }
    if (InDetail(place)) {
        Report(">> Disk %d #%d %s:\n", place.disk, place.number, store.path.c_str());
        for (const BcdObject* o : InOrder(bcd))
            ListObject(store, *o);
    }
    if (!bcd.savedCleanly)
        Report("#%d %s was not saved cleanly: Windows will replay its .LOG files at boot.\n",
               place.number, store.path.c_str());
    ReportDefault(store, bcd);
    if (InDetail(place))
        ReportEntries(store, bcd);
}
