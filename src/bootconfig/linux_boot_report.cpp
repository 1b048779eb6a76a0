#include "bootconfig/linux_boot_report.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "bootconfig/grub_script.h"
#include "bootconfig/linux_config.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "fs/fs_path.h"
#include "layout/guid.h"
#include "output/output.h"
#include "output/printable.h"
#include "volume/boot_files.h"

namespace {

// Directories of \EFI and entries of \loader\entries looked at on one volume.
constexpr size_t MaxLoaderDirectories = 64;
constexpr size_t MaxLoaderEntries = 256;
constexpr size_t MaxKernelImages = 64;
// Volumes of a drive that the summary pass keeps open, with the sectors their
// boot files read, until the drive's configurations are followed: at most so
// many, holding at most so many bytes of sectors together.
constexpr size_t MaxKeptVolumes = 16;
constexpr uint64_t MaxKeptBytes = 32u << 20;

const char XbootldrGuid[] = "BC13C2FF-59E6-4262-A352-B275FD6F7172";

// Paths are written as Linux names them; VolumePath gives each volume its own.
const char* const GrubConfigPaths[] = {"/boot/grub/grub.cfg", "/grub/grub.cfg"};
const char* const NormalModPaths[] = {"/boot/grub/i386-pc/normal.mod", "/grub/i386-pc/normal.mod"};

// The loaders a boot entry may start, by file name, and what they read.
enum class ConfigKind { Grub, SystemdBoot };

struct LoaderFileRow {
    const char* name;
    ConfigKind kind;
};

const LoaderFileRow LoaderFiles[] = {
    {"grubx64.efi", ConfigKind::Grub},
    {"shimx64.efi", ConfigKind::Grub},
    {"grubia32.efi", ConfigKind::Grub},
    {"shimia32.efi", ConfigKind::Grub},
    {"grubaa64.efi", ConfigKind::Grub},
    {"shimaa64.efi", ConfigKind::Grub},
    {"systemd-bootx64.efi", ConfigKind::SystemdBoot},
    {"systemd-bootia32.efi", ConfigKind::SystemdBoot},
    {"systemd-bootaa64.efi", ConfigKind::SystemdBoot},
};

struct KernelImage {
    std::string path;
    uint64_t size;
};

// A configuration read from a volume, to be followed to the volumes it names.
struct ConfigFile {
    ConfigKind kind = ConfigKind::Grub;
    int disk = 0, number = 0;
    uint64_t first = 0;
    std::string path; // as stored
    GrubConfig grub;
    std::string savedEntry;
    bool hasLoaderConf = false;
    LoaderConf loader;
    std::vector<LoaderEntry> entries; // file: the entry's path as stored
    std::vector<KernelImage> images;  // \EFI\Linux\*.efi
};

// What the summary pass found a configuration to start, for the firmware section.
struct ConfigRecord {
    ConfigKind kind = ConfigKind::Grub;
    int disk = 0, number = 0;
    uint64_t first = 0;
    std::string path;
    bool hasDefault = false;
    std::string title, kernel, kernelState; // kernelState: "on disk 0 #2: 1234 bytes"
    bool hasTarget = false;                 // a configfile it hands over to
    int targetDisk = 0;
    uint64_t targetFirst = 0;
    std::string targetPath;
};

std::vector<ConfigFile> Pending;           // the summary pass's, of the drive walked
std::map<uint64_t, FsVolume> KeptVolumes;  // by first sector, of the drive walked
std::set<std::pair<Pass, int>> NormalMods; // drives where a volume holds normal.mod
std::set<std::tuple<Pass, int, uint64_t>> FstabsReported;
std::vector<ConfigRecord> Records;
// The unified kernel images the summary pass found, with their volume's place.
struct ImageRecord {
    int disk;
    uint64_t first;
    std::string path;
};
std::vector<ImageRecord> Images;

std::string Shown(const std::string& text) {
    return PrintableBytes(text, PrintAs::Text);
}

// FAT and NTFS paths are split at backslashes, those of Linux file systems at '/'.
std::string VolumePath(const FsVolume& volume, std::string path) {
    const bool backslashes = volume.kind == FsKind::Fat || volume.kind == FsKind::Ntfs;
    std::replace(path.begin(), path.end(), backslashes ? '/' : '\\', backslashes ? '\\' : '/');
    return path;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// ---- Reading a volume's files ----

FsResult ReadText(FsVolume& volume, const std::string& path, uint64_t limit, std::string* text,
                  std::string* stored) {
    FsEntry entry;
    const FsResult found = FindPath(volume, VolumePath(volume, path), &entry);
    if (found != FsResult::Found)
        return found;
    if (entry.directory)
        return FsResult::Missing;
    std::vector<uint8_t> bytes;
    const FsResult read = ReadFileContent(volume, entry, limit, &bytes);
    text->assign(bytes.begin(), bytes.end());
    *stored = entry.name;
    return read;
}

std::vector<FsEntry> ListedAt(FsVolume& volume, const std::string& path, bool directories) {
    FsEntry at;
    std::vector<FsEntry> entries, kept;
    if (FindPath(volume, VolumePath(volume, path), &at) != FsResult::Found || !at.directory ||
        ListDirectory(volume, at, &entries) != FsResult::Found)
        return kept;
    for (FsEntry& e : entries)
        if (e.directory == directories && kept.size() < MaxLoaderEntries)
            kept.push_back(e);
    return kept;
}

bool EndsWith(const std::string& name, const std::string& suffix) {
    return name.size() >= suffix.size() &&
           SameName(name.substr(name.size() - suffix.size()), suffix);
}

ConfigFile NewConfig(const PartitionPlace& place, ConfigKind kind, const std::string& path) {
    ConfigFile config;
    config.kind = kind;
    config.disk = place.disk;
    config.number = place.number;
    config.first = place.first;
    config.path = path;
    return config;
}

void ReadGrubConfig(const PartitionPlace& place, FsVolume& volume, const std::string& path,
                    std::vector<ConfigFile>& found) {
    std::string text, stored;
    if (ReadText(volume, path, GrubConfigMaxBytes + 1, &text, &stored) != FsResult::Found)
        return;
    ConfigFile config = NewConfig(place, ConfigKind::Grub, stored);
    std::string env, envPath;
    if (ReadText(volume, DirectoryOf(stored) + "/grubenv", GrubEnvBytes, &env, &envPath) ==
        FsResult::Found)
        config.savedEntry = GrubEnvSavedEntry(env);
    config.grub = ParseGrubConfig(text, config.savedEntry);
    found.push_back(std::move(config));
}

void ReadGrubConfigs(const PartitionPlace& place, FsVolume& volume,
                     std::vector<ConfigFile>& found) {
    if (place.efiSystem) {
        std::vector<FsEntry> directories = ListedAt(volume, "\\EFI", true);
        directories.resize(std::min(directories.size(), MaxLoaderDirectories));
        for (const FsEntry& d : directories)
            ReadGrubConfig(place, volume, "\\EFI\\" + d.name + "\\grub.cfg", found);
    }
    for (const char* path : GrubConfigPaths)
        ReadGrubConfig(place, volume, path, found);
}

bool IsXbootldr(const PartitionPlace& place) {
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.disk == place.disk && p.first == place.first && p.origin == PartitionOrigin::Gpt)
            return FormatGuid(DetailsOf(p).typeGuid) == XbootldrGuid;
    return false;
}

void ReadSystemdBoot(const PartitionPlace& place, FsVolume& volume,
                     std::vector<ConfigFile>& found) {
    if (!place.efiSystem && !IsXbootldr(place))
        return;
    ConfigFile config = NewConfig(place, ConfigKind::SystemdBoot, "\\loader\\entries");
    std::string text, stored;
    if (ReadText(volume, "\\loader\\loader.conf", LinuxConfigMaxBytes, &text, &stored) ==
        FsResult::Found) {
        config.hasLoaderConf = true;
        config.path = stored;
        config.loader = ParseLoaderConf(text);
    }
    for (const FsEntry& e : ListedAt(volume, "\\loader\\entries", false)) {
        const std::string path = "\\loader\\entries\\" + e.name;
        if (EndsWith(e.name, ".conf") &&
            ReadText(volume, path, LinuxConfigMaxBytes, &text, &stored) == FsResult::Found)
            config.entries.push_back(ParseLoaderEntry(stored, text));
    }
    for (FsEntry& e : ListedAt(volume, "\\EFI\\Linux", false))
        if (EndsWith(e.name, ".efi") && config.images.size() < MaxKernelImages &&
            ReadEntryDetails(volume, e) == FsResult::Found)
            config.images.push_back({"\\EFI\\Linux\\" + e.name, e.size});
    if (config.hasLoaderConf || !config.entries.empty() || !config.images.empty())
        found.push_back(std::move(config));
}

void NoteNormalMod(const PartitionPlace& place, FsVolume& volume) {
    FsEntry entry;
    for (const char* path : NormalModPaths)
        if (FindPath(volume, VolumePath(volume, path), &entry) == FsResult::Found &&
            !entry.directory)
            NormalMods.insert({place.pass, place.disk});
}

void Keep(const FsVolume& volume) {
    uint64_t bytes = volume.cachedBytes;
    for (const auto& [first, kept] : KeptVolumes)
        bytes += kept.cachedBytes;
    if (KeptVolumes.size() < MaxKeptVolumes && bytes <= MaxKeptBytes)
        KeptVolumes.emplace(volume.first, volume);
}

// ---- The volumes a configuration names ----

const PartitionRecord* RecordAt(int disk, uint64_t first) {
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.disk == disk && p.first == first)
            return &p;
    return nullptr;
}

const PartitionRecord* VolumeNamed(VolumeNameBy by, const std::string& value) {
    switch (by) {
    case VolumeNameBy::Uuid: return FindVolumeByUuid(value);
    case VolumeNameBy::Label: return FindVolumeByLabel(value);
    case VolumeNameBy::PartUuid: return FindPartitionByPartUuid(value);
    default: return nullptr;
    }
}

std::string Where(const PartitionRecord& p) {
    return "disk " + std::to_string(p.disk) + " #" + std::to_string(p.placeNumber);
}

// A configuration being followed, with the volumes of its drive it opened.
struct Follow {
    ConfigFile& config;
    Pass pass;
    FsVolume* own; // the volume the boot files opened; nullptr when closed
    std::map<uint64_t, FsVolume> opened;
    std::vector<const PartitionRecord*> searchHits;
    ConfigRecord record;
    std::string named; // the file that problem lines name: the configuration or its entry
};

bool Listing(const Follow& f) {
    return f.pass == Pass::Detail;
}

bool HoldsReadableFiles(const PartitionRecord& p) {
    return (p.content == VolumeKind::Fat || p.content == VolumeKind::Fat32 ||
            p.content == VolumeKind::Ntfs || HoldsExt(p)) &&
           p.files != FilesHeld::Unreadable;
}

FsVolume* Opened(Follow& f, const PartitionRecord& p) {
    if (f.own && p.first == f.own->first)
        return f.own;
    if (auto kept = KeptVolumes.find(p.first); kept != KeptVolumes.end())
        return &kept->second;
    auto it = f.opened.find(p.first);
    if (it != f.opened.end())
        return &it->second;
    FsVolume& volume = f.opened[p.first];
    if (HoldsReadableFiles(p))
        OpenRecordedVolume(volume, p);
    else
        volume.unreadable = true;
    return &volume;
}

struct Lookup {
    FsResult result = FsResult::Unreadable; // Unreadable: not checked
    FsEntry entry;
};

Lookup LookUp(Follow& f, const PartitionRecord* p, const std::string& path) {
    Lookup lookup;
    if (!p || p->disk != f.config.disk || path.empty())
        return lookup;
    FsVolume& volume = *Opened(f, *p);
    lookup.result = FindPath(volume, VolumePath(volume, path), &lookup.entry);
    if (lookup.result == FsResult::Found && lookup.entry.directory)
        lookup.result = FsResult::Missing;
    return lookup;
}

std::string State(const Lookup& lookup) {
    if (lookup.result == FsResult::Found)
        return std::to_string(lookup.entry.size) + " bytes";
    return lookup.result == FsResult::Missing ? "missing" : "not checked";
}

const PartitionRecord* Own(const Follow& f) {
    return RecordAt(f.config.disk, f.config.first);
}

// GRUB numbers disks in the firmware's order: hd0 is the disk it booted from, the
// one its configuration was read on. Its partitions are numbered as the firmware
// numbers them ("gpt4", "msdos5" or "4"). Other disks are not followed.
const PartitionRecord* GrubDevice(const Follow& f, const std::string& device) {
    std::string rest;
    for (const char* disk : {"hd0,gpt", "hd0,msdos", "hd0,"})
        if (device.rfind(disk, 0) == 0) {
            rest = device.substr(std::strlen(disk));
            break;
        }
    if (rest.empty() || rest.size() > 4 || rest[0] == '0' ||
        !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return nullptr;
    const uint32_t number = static_cast<uint32_t>(std::stoul(rest));
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.disk == f.config.disk && p.number == number)
            return &p;
    return nullptr;
}

// The volume $root names; nullptr for a search that found none or a device of
// another disk.
const PartitionRecord* RootVolume(const Follow& f, const GrubRoot& root) {
    if (root.kind == GrubRootKind::Own)
        return Own(f);
    if (root.kind == GrubRootKind::Search && root.search < f.searchHits.size())
        return f.searchHits[root.search];
    if (root.kind == GrubRootKind::Device)
        return GrubDevice(f, root.device);
    return nullptr;
}

std::string RootText(const Follow& f, const GrubRoot& root) {
    const PartitionRecord* p = RootVolume(f, root);
    if (p)
        return Where(*p);
    return root.kind == GrubRootKind::Device ? "(" + Shown(root.device) + ")"
                                             : "no volume examined";
}

std::string SearchText(const GrubSearch& search) {
    switch (search.by) {
    case GrubSearchBy::FsUuid: return "UUID=" + Shown(search.value);
    case GrubSearchBy::Label: return "LABEL=" + Shown(search.value);
    case GrubSearchBy::File: break;
    }
    return "file " + Shown(search.value);
}

// A file search looks on the readable volumes of the configuration's drive.
const PartitionRecord* FindFile(Follow& f, const std::string& path) {
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.disk == f.config.disk && HoldsReadableFiles(p) &&
            LookUp(f, &p, path).result == FsResult::Found)
            return &p;
    return nullptr;
}

void ResolveSearches(Follow& f) {
    for (const GrubSearch& s : f.config.grub.searches)
        f.searchHits.push_back(s.by == GrubSearchBy::File
                                   ? FindFile(f, s.value)
                                   : VolumeNamed(s.by == GrubSearchBy::FsUuid ? VolumeNameBy::Uuid
                                                                              : VolumeNameBy::Label,
                                                 s.value));
}

void ReportSearch(Follow& f, size_t index) {
    const GrubSearch& s = f.config.grub.searches[index];
    const std::string text = SearchText(s);
    const PartitionRecord* hit = f.searchHits[index];
    if (Listing(f))
        Report("   search %s: %s\n", text.c_str(),
               hit ? Where(*hit).c_str() : "no volume examined");
    if (!hit && !s.value.empty())
        Report("#%d %s: search for %s finds no volume examined.\n", f.config.number,
               f.named.c_str(), text.c_str());
}

// A file an entry loads, listed and, when missing, reported.
void CheckFile(Follow& f, const char* what, const std::string& title, const std::string& path,
               const PartitionRecord* on, const std::string& onText, bool isDefault) {
    const Lookup lookup = LookUp(f, on, path);
    if (Listing(f))
        Report("   %s %s on %s: %s\n", what, Shown(path).c_str(), onText.c_str(),
               State(lookup).c_str());
    if (isDefault && lookup.result == FsResult::Missing)
        Report("#%d %s: default entry \"%s\" loads %s from disk %d #%d, where it is missing.\n",
               f.config.number, f.named.c_str(), Shown(title).c_str(), Shown(path).c_str(),
               on->disk, on->placeNumber);
}

void NoteKernel(Follow& f, const std::string& title, const std::string& path,
                const PartitionRecord* on, const std::string& onText) {
    f.record.hasDefault = true;
    f.record.title = title;
    f.record.kernel = path;
    f.record.kernelState = "on " + onText + ": " + State(LookUp(f, on, path));
}

// ---- root= and the root file system's fstab ----

const PartitionRecord* NamedVolume(const VolumeName& name) {
    return name.by == VolumeNameBy::Uuid || name.by == VolumeNameBy::PartUuid ||
                   name.by == VolumeNameBy::Label
               ? VolumeNamed(name.by, name.value)
               : nullptr;
}

bool Checkable(const VolumeName& name) {
    return name.by == VolumeNameBy::Uuid || name.by == VolumeNameBy::PartUuid ||
           name.by == VolumeNameBy::Label;
}

void CheckFstab(Follow& f, const PartitionRecord& root) {
    std::string text, stored;
    if (root.disk != f.config.disk)
        return;
    const FsResult read =
        ReadText(*Opened(f, root), "/etc/fstab", LinuxConfigMaxBytes, &text, &stored);
    if (Listing(f))
        Report("   /etc/fstab on %s: %s\n", Where(root).c_str(),
               read == FsResult::Found     ? (std::to_string(text.size()) + " bytes").c_str()
               : read == FsResult::Missing ? "missing"
                                           : "not checked");
    if (read != FsResult::Found)
        return;
    const bool report = FstabsReported.insert({f.pass, root.disk, root.first}).second;
    for (const FstabEntry& e : ParseFstab(text)) {
        if (!Checkable(e.source))
            continue;
        const PartitionRecord* p = NamedVolume(e.source);
        const std::string source = Shown(e.source.text);
        if (Listing(f))
            Report("      %s %s: %s\n", source.c_str(), Shown(e.mountPoint).c_str(),
                   p ? Where(*p).c_str() : "no volume examined");
        if (!p && !e.mayFail && report)
            Report("#%d /etc/fstab: %s is no volume examined; systemd stops in emergency mode.\n",
                   root.placeNumber, source.c_str());
    }
}

void CheckRoot(Follow& f, const std::string& rootArgument) {
    const VolumeName name = ParseVolumeName(rootArgument);
    if (name.by == VolumeNameBy::None)
        return;
    const PartitionRecord* p = NamedVolume(name);
    const std::string text = Shown(name.text);
    if (Listing(f))
        Report("   root=%s: %s\n", text.c_str(),
               p                 ? Where(*p).c_str()
               : Checkable(name) ? "no volume examined"
                                 : "not checked");
    if (!p && Checkable(name))
        Report("#%d %s: root=%s is no volume examined.\n", f.config.number, f.named.c_str(),
               text.c_str());
    if (p)
        CheckFstab(f, *p);
}

// ---- GRUB ----

void FollowConfigFile(Follow& f, const GrubPath& path) {
    const PartitionRecord* on = RootVolume(f, path.root);
    const Lookup lookup = LookUp(f, on, path.path);
    if (Listing(f))
        Report("   configfile %s on %s: %s\n", Shown(path.path).c_str(),
               RootText(f, path.root).c_str(), State(lookup).c_str());
    if (lookup.result == FsResult::Found && !f.record.hasTarget) {
        f.record.hasTarget = true;
        f.record.targetDisk = on->disk;
        f.record.targetFirst = on->first;
        f.record.targetPath = lookup.entry.name;
    }
}

void FollowGrubEntry(Follow& f, const GrubEntry& entry) {
    const std::string title = entry.title;
    if (Listing(f))
        Report("   default \"%s\": \"%s\"\n", Shown(f.config.grub.defaultText).c_str(),
               Shown(title).c_str());
    for (size_t index : entry.searches)
        ReportSearch(f, index);
    if (!entry.kernel.path.empty()) {
        const PartitionRecord* on = RootVolume(f, entry.kernel.root);
        const std::string onText = RootText(f, entry.kernel.root);
        CheckFile(f, "linux", title, entry.kernel.path, on, onText, true);
        NoteKernel(f, title, entry.kernel.path, on, onText);
    }
    for (const GrubPath& initrd : entry.initrds)
        CheckFile(f, "initrd", title, initrd.path, RootVolume(f, initrd.root),
                  RootText(f, initrd.root), true);
    CheckRoot(f, entry.rootArgument);
}

void FollowGrub(Follow& f) {
    const GrubConfig& grub = f.config.grub;
    ResolveSearches(f);
    if (Listing(f) && !f.config.savedEntry.empty())
        Report("   grubenv saved_entry \"%s\"\n", Shown(f.config.savedEntry).c_str());
    for (size_t index : grub.topSearches)
        ReportSearch(f, index);
    for (const GrubPath& path : grub.configFiles)
        FollowConfigFile(f, path);
    if (const GrubEntry* entry = DefaultGrubEntry(grub))
        FollowGrubEntry(f, *entry);
    else if (Listing(f) && grub.configFiles.empty())
        Report("   no menu entry\n");
    if (Listing(f) && grub.truncated)
        Report("   the rest not read: past the bounds of a configuration\n");
}

// ---- systemd-boot ----

void FollowLoaderEntry(Follow& f, const LoaderEntry& entry, bool isDefault) {
    const std::string title = entry.title.empty() ? entry.file : entry.title;
    if (Listing(f))
        Report("   entry %s \"%s\"%s\n", Shown(entry.file).c_str(), Shown(title).c_str(),
               isDefault ? " (default)" : "");
    const PartitionRecord* on = Own(f);
    const std::string onText = on ? Where(*on) : "no volume examined";
    f.named = Shown(entry.file);
    if (!entry.linux.empty())
        CheckFile(f, "linux", title, entry.linux, on, onText, isDefault);
    if (!entry.efi.empty())
        CheckFile(f, "efi", title, entry.efi, on, onText, isDefault);
    for (const std::string& initrd : entry.initrds)
        CheckFile(f, "initrd", title, initrd, on, onText, isDefault);
    if (isDefault) {
        NoteKernel(f, title, entry.linux.empty() ? entry.efi : entry.linux, on, onText);
        CheckRoot(f, entry.rootArgument);
    }
}

void FollowSystemdBoot(Follow& f) {
    ConfigFile& config = f.config;
    if (Listing(f) && !config.loader.defaultPattern.empty())
        Report("   default %s\n", Shown(config.loader.defaultPattern).c_str());
    if (Listing(f) && !config.loader.timeout.empty())
        Report("   timeout %s\n", Shown(config.loader.timeout).c_str());
    const LoaderEntry* chosen = DefaultLoaderEntry(config.loader, config.entries);
    for (const LoaderEntry& entry : config.entries)
        FollowLoaderEntry(f, entry, &entry == chosen);
    if (Listing(f))
        for (const KernelImage& image : config.images)
            Report("   unified kernel image %s: %llu bytes\n", Shown(image.path).c_str(),
                   Ull(image.size));
}

void FollowConfig(ConfigFile& config, Pass pass, FsVolume* own) {
    Follow f{config, pass, own, {}, {}, {}, Shown(config.path)};
    f.record.kind = config.kind;
    f.record.disk = config.disk;
    f.record.number = config.number;
    f.record.first = config.first;
    f.record.path = config.path;
    if (pass == Pass::Detail)
        Report(">> Disk %d #%d %s:\n", config.disk, config.number, Shown(config.path).c_str());
    if (config.kind == ConfigKind::Grub)
        FollowGrub(f);
    else
        FollowSystemdBoot(f);
    if (pass == Pass::Summary) {
        Records.push_back(f.record);
        for (const KernelImage& image : config.images)
            Images.push_back({config.disk, config.first, image.path});
    }
}

// ---- The firmware's line ----

const ConfigRecord* FindRecord(ConfigKind kind, int disk, uint64_t first, const std::string& path) {
    for (const ConfigRecord& r : Records)
        if (r.kind == kind && r.disk == disk && r.first == first &&
            (path.empty() || SameName(r.path, path)))
            return &r;
    return nullptr;
}

std::string FileName(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ConfigLine(const char* loader, const ConfigRecord& reads, const ConfigRecord& chosen) {
    std::string line = "    " + std::string(loader) + " reads disk " + std::to_string(reads.disk) +
                       " #" + std::to_string(reads.number) + " " + Shown(reads.path);
    if (!chosen.hasDefault)
        return line + "; no default entry.\n";
    return line + "; default \"" + Shown(chosen.title) + "\" loads " + Shown(chosen.kernel) + " " +
           chosen.kernelState + "\n";
}

// A volume of the drive whose files the walk could not look at (XFS, Btrfs,
// LUKS, one that could not be read): normal.mod may be there.
bool HoldsUnreadVolume(int disk) {
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.disk == disk && *IdentityOf(p).kind && p.files != FilesHeld::Fat &&
            p.files != FilesHeld::NotFat)
            return true;
    return false;
}

} // namespace

void ExamineLinuxBootConfig(const PartitionPlace& place, FsVolume& volume) {
    if (volume.kind == FsKind::Ntfs)
        return;
    std::vector<ConfigFile> found;
    ReadGrubConfigs(place, volume, found);
    ReadSystemdBoot(place, volume, found);
    NoteNormalMod(place, volume);
    if (!InDetail(place))
        Keep(volume);
    for (ConfigFile& config : found) {
        if (InDetail(place))
            FollowConfig(config, place.pass, &volume);
        else
            Pending.push_back(std::move(config));
    }
}

void ReportDriveBootConfig(int disk, Pass pass, bool grubBootCode) {
    std::vector<ConfigFile> pending;
    pending.swap(Pending);
    for (ConfigFile& config : pending)
        if (config.disk == disk)
            FollowConfig(config, pass, nullptr);
    KeptVolumes.clear();
    if (grubBootCode && !NormalMods.count({pass, disk}) && !HoldsUnreadVolume(disk))
        Report(
            "#%d GRUB 2 boot code, but no volume examined holds /boot/grub/i386-pc/normal.mod.\n",
            disk);
}

std::string LoaderConfigLine(const PartitionRecord& partition, const std::string& file) {
    const std::string name = FileName(file);
    for (const ImageRecord& image : Images)
        if (image.disk == partition.disk && image.first == partition.first &&
            SameName(image.path, file))
            return "    unified kernel image: its kernel and command line are inside it.\n";
    for (const LoaderFileRow& row : LoaderFiles) {
        if (!SameName(name, row.name))
            continue;
        const std::string path =
            row.kind == ConfigKind::Grub ? DirectoryOf(file) + "\\grub.cfg" : "";
        const ConfigRecord* reads = FindRecord(row.kind, partition.disk, partition.first, path);
        if (!reads)
            return "";
        const ConfigRecord* chosen =
            reads->hasTarget
                ? FindRecord(row.kind, reads->targetDisk, reads->targetFirst, reads->targetPath)
                : reads;
        return ConfigLine(row.kind == ConfigKind::Grub ? "GRUB" : "systemd-boot",
                          chosen ? *chosen : *reads, chosen ? *chosen : *reads);
    }
    return "";
}

void ResetLinuxBootConfig() {
    Pending.clear();
    KeptVolumes.clear();
    NormalMods.clear();
    FstabsReported.clear();
    Records.clear();
    Images.clear();
}
