// The other texts that tell where Linux boots from: systemd-boot's loader.conf
// and its entries (the type 1 boot loader entries systemd-boot reads), /etc/fstab,
// and a kernel's root= argument. Text in, structures out: nothing here reads a
// disk.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Bytes of one such file read; the rest is not looked at.
constexpr size_t LinuxConfigMaxBytes = 256u << 10;

// How root= or an fstab source names a volume: UUID=, PARTUUID=, LABEL=, a
// /dev/ name (shown, not looked for), or anything else.
enum class VolumeNameBy { None, Uuid, PartUuid, Label, Device, Other };

struct VolumeName {
    VolumeNameBy by = VolumeNameBy::None;
    std::string value; // what follows "UUID=" and the like, quotes removed
    std::string text;  // as written
};

VolumeName ParseVolumeName(const std::string& text);

struct LoaderConf {
    std::string defaultPattern; // a glob over the entries' file names; "" when none
    std::string timeout;
};

struct LoaderEntry {
    std::string file; // its file name, "arch.conf"
    std::string title, version;
    std::string linux, efi;
    std::vector<std::string> initrds;
    std::string rootArgument; // options' root=, as written
};

LoaderConf ParseLoaderConf(const std::string& text);
LoaderEntry ParseLoaderEntry(const std::string& file, const std::string& text);

// The entry systemd-boot starts: the first whose file name (with or without
// ".conf") the default pattern matches, else the first; entries sorted by
// file name, highest first. nullptr when there is none.
const LoaderEntry* DefaultLoaderEntry(const LoaderConf& conf, std::vector<LoaderEntry>& entries);

// '*' and '?' as the shell matches them, without regard to ASCII case.
bool MatchesGlob(const std::string& pattern, const std::string& name);

struct FstabEntry {
    VolumeName source;
    std::string mountPoint, type;
    bool mayFail = false; // nofail or noauto: the boot goes on without it
};

std::vector<FstabEntry> ParseFstab(const std::string& text);
