#include "volume/volume_examine.h"

#include "bootcode/volume_boot_code.h"
#include "bpb/bpb_decoders.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/linux_volume.h"
#include "layout/partition_types.h"
#include "layout/volume_identity.h"
#include "layout/volume_kind.h"
#include "output/output.h"
#include "volume/backup_boot_sector.h"
#include "volume/boot_files.h"
#include "volume/exfat.h"
#include "volume/partition_record.h"
#include "volume/volume_checks.h"

namespace {

// The kind a partition type stands for, when the content says nothing.
VolumeKind KindOfType(uint8_t type) {
    switch (PartitionKindOf(type)) {
    case PartitionKind::Fat: return VolumeKind::Fat;
    case PartitionKind::Fat32: return VolumeKind::Fat32;
    case PartitionKind::Ntfs: return VolumeKind::Ntfs;
    default: return VolumeKind::Unknown;
    }
}

// FAT and NTFS types are the ones whose boot sector is looked at; the others go
// by their type alone.
bool ContentDecides(uint8_t type) {
    return KindOfType(type) != VolumeKind::Unknown;
}

bool IsFatFamily(VolumeKind kind) {
    return kind == VolumeKind::Fat || kind == VolumeKind::Fat32;
}

// A FAT type reformatted as NTFS, exFAT or BitLocker, or type 07 holding FAT:
// mkfs does not change the type byte. Type 07 serves NTFS, exFAT and BitLocker
// alike, and one FAT size in another FAT type is no mismatch.
bool ContentBelongsElsewhere(uint8_t type, VolumeKind content) {
    if (content == VolumeKind::Unknown)
        return false;
    if (MbrTypeFamily(type) == TypeFamily::Linux)
        return true;
    return IsFatFamily(KindOfType(type)) != IsFatFamily(content);
}

// The heading of a boot sector in the detail report, and its dump.
void ShowBootSector(const PartitionPlace& place, const char* fileSystem) {
    Report(">> #%d Disk %d %s Partition Boot sector (sector %llu)\n", place.number, place.disk,
           fileSystem, Ull(place.first));
    DumpSector();
}

// A volume made for drives of another sector size: its sector numbers are not
// the drive's. An exFAT shift outside 9 to 12 has a line of its own.
void CheckBytesPerSector(const PartitionPlace& place, VolumeKind kind) {
    const unsigned says = SaysBytesPerSector(SectorBuffer, kind);
    const bool validShift = says >= 512 && says <= 4096;
    if (says != DriveSectorSize() && (kind != VolumeKind::ExFat || validShift))
        Report("#%d Boot sector says %u bytes per sector; the drive has %u.\n", place.number, says,
               DriveSectorSize());
}

void ExamineFat(const PartitionPlace& place) {
    if (InDetail(place)) {
        ShowBootSector(place, "FAT");
        DecodeFatBpb(place.disk);
        ReportVolumeBootCode(VolumeKind::Fat);
    }
    CheckBytesPerSector(place, VolumeKind::Fat);
    CheckVolumeInPartition(place, VolumeKind::Fat);
    ExamineBootFiles(place, VolumeKind::Fat);
}

// The summary pass does not compare the FAT32 backup.
void ExamineFat32(const PartitionPlace& place) {
    unsigned backupField = 0;
    if (InDetail(place)) {
        ShowBootSector(place, "FAT");
        backupField = static_cast<unsigned>(DecodeFat32Bpb(place.disk));
        ReportVolumeBootCode(VolumeKind::Fat32);
    }
    CheckBytesPerSector(place, VolumeKind::Fat32);
    CheckVolumeInPartition(place, VolumeKind::Fat32);
    ExamineBootFiles(place, VolumeKind::Fat32);
    if (InDetail(place))
        VerifyFat32Backup(place, backupField);
}

void ExamineNtfs(const PartitionPlace& place) {
    if (InDetail(place)) {
        ShowBootSector(place, "NTFS");
        DecodeNtfsBpb(place.disk);
        ReportVolumeBootCode(VolumeKind::Ntfs);
    }
    CheckBytesPerSector(place, VolumeKind::Ntfs);
    CheckVolumeInPartition(place, VolumeKind::Ntfs);
    ExamineBootFiles(place, VolumeKind::Ntfs);
    VerifyNtfsBackup(place);
}

void ExamineExFat(const PartitionPlace& place) {
    if (InDetail(place)) {
        ShowBootSector(place, "exFAT");
        DecodeExFatBootSector(place.disk);
    }
    CheckBytesPerSector(place, VolumeKind::ExFat);
    CheckExFatBootRegion(place);
}

// The volume's last sector is encrypted data like the rest: no backup to compare.
void ExamineBitLocker(const PartitionPlace& place) {
    Report("\n#%d >> Disk %d BitLocker encrypted volume (sector %llu)\n", place.number, place.disk,
           Ull(place.first));
    if (InDetail(place))
        DumpSector();
}

// An EFI system partition whose signed first sector is no file system's.
void ExamineEspWithoutFileSystem(const PartitionPlace& place) {
    ReportEspNotFat(place, VolumeKind::Unknown);
    if (InDetail(place))
        DumpSector();
}

void ExamineByType(const PartitionPlace& place) {
    if (PartitionKindOf(place.type) == PartitionKind::Dynamic)
        return;
    Report("\n#%d >> Disk %d Unlisted partition type %d. Examine sector %llu\n", place.number,
           place.disk, place.type, Ull(place.first));
    if (InDetail(place))
        DumpSector();
}

bool IsSignedWindowsBootSector() {
    return HasBootSignature() && IdentifyVolumeContent(SectorBuffer) != VolumeKind::Unknown;
}

std::string UuidShown(const LinuxVolume& volume) {
    return volume.uuid.empty() ? "none" : volume.uuid;
}

// The sector that told the kind, then the first sector back in SectorBuffer.
void DumpSignatureSector(PartitionBytes& bytes, const LinuxVolume& volume) {
    uint8_t byte;
    ReadPartitionBytes(bytes, volume.at, 1, &byte);
    for (const auto& [number, data] : bytes.read)
        if (number == volume.at / DriveSectorSize())
            std::copy(data.begin(), data.end(), SectorBuffer);
    DumpSector();
}

void RestoreFirstSector(const PartitionBytes& bytes) {
    const std::vector<uint8_t>& first = bytes.read.front().second;
    std::copy(first.begin(), first.end(), SectorBuffer);
}

} // namespace

void ReportTypeHolds(const PartitionPlace& place, const std::string& type, const char* fileSystem) {
    Report("\n#%d Partition type %s holds a %s boot sector.\n", place.number, type.c_str(),
           fileSystem);
}

namespace {

bool IsExtKind(LinuxVolumeKind kind) {
    return kind == LinuxVolumeKind::Ext2 || kind == LinuxVolumeKind::Ext3 ||
           kind == LinuxVolumeKind::Ext4;
}

} // namespace

bool ExamineLinuxVolume(const PartitionPlace& place, TypeFamily family, const std::string& type) {
    if (IsSignedWindowsBootSector())
        return false;
    PartitionBytes bytes = StartPartitionProbe(place.first, place.count, place.diskSectors);
    const LinuxVolume volume = IdentifyLinuxVolume(bytes);
    if (volume.kind == LinuxVolumeKind::None) {
        RestoreFirstSector(bytes);
        return false;
    }
    const char* name = LinuxVolumeKindName(volume.kind);
    if (family == TypeFamily::Windows)
        ReportTypeHolds(place, type, name);
    Report("\n#%d >> Disk %d %s volume \"%s\" UUID %s (sector %llu)\n", place.number, place.disk,
           name, volume.label.c_str(), UuidShown(volume).c_str(), Ull(place.first));
    ReportEspHolds(place, name);
    RecordVolumeIdentity(place, {name, volume.label, volume.uuid});
    if (InDetail(place))
        DumpSignatureSector(bytes, volume);
    RestoreFirstSector(bytes);
    if (IsExtKind(volume.kind))
        ExamineExtFiles(place, name);
    return true;
}

void ExamineVolume(const PartitionPlace& place) {
    VolumeKind kind = VolumeKind::Unknown;
    if (ContentDecides(place.type) || MbrTypeFamily(place.type) == TypeFamily::Linux) {
        const VolumeKind content = IdentifyVolumeContent(SectorBuffer);
        if (ContentBelongsElsewhere(place.type, content) && !place.efiSystem)
            ReportTypeHolds(place, FormatNumber("%02x", place.type), VolumeKindName(content));
        kind = content != VolumeKind::Unknown || place.efiSystem ? content : KindOfType(place.type);
    }
    if (kind == VolumeKind::Unknown && place.efiSystem)
        ExamineEspWithoutFileSystem(place);
    else if (kind == VolumeKind::Unknown)
        ExamineByType(place);
    else
        ExamineVolumeOfKind(kind, place);
}

void ExamineVolumeOfKind(VolumeKind kind, const PartitionPlace& place) {
    ReportEspNotFat(place, kind);
    RecordVolumeContent(place, kind);
    RecordVolumeIdentity(place, BootSectorIdentity(SectorBuffer, kind));
    switch (kind) {
    case VolumeKind::Fat: ExamineFat(place); break;
    case VolumeKind::Fat32: ExamineFat32(place); break;
    case VolumeKind::Ntfs: ExamineNtfs(place); break;
    case VolumeKind::ExFat: ExamineExFat(place); break;
    case VolumeKind::BitLocker: ExamineBitLocker(place); break;
    case VolumeKind::Unknown: break;
    }
}
