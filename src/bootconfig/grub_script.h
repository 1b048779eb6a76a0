// What Bootsieve reads of a GRUB 2 configuration (grub.cfg): the commands that
// tell where GRUB looks for its files and what the default entry loads. The
// script is tokenized as GRUB does (quotes, backslashes, continued lines,
// comments, blocks); only search, set prefix / root / default, configfile,
// menuentry, submenu, linux and initrd are read, everything else is skipped.
// Text in, structures out: nothing here reads a disk.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Bytes of a configuration read; the rest is not looked at.
constexpr size_t GrubConfigMaxBytes = 1u << 20;
// Size of grubenv, the environment block beside grub.cfg.
constexpr size_t GrubEnvBytes = 1024;

enum class GrubSearchBy { FsUuid, Label, File };

struct GrubSearch {
    GrubSearchBy by = GrubSearchBy::FsUuid;
    std::string value;
    bool setsRoot = false; // --set, --set=root, or search.* VAR root
};

// The volume that $root names at a point of the script: the configuration's own
// volume, the one a search found, or a GRUB device such as "hd0,gpt2" (shown,
// not looked for).
enum class GrubRootKind { Own, Search, Device };

struct GrubRoot {
    GrubRootKind kind = GrubRootKind::Own;
    size_t search = 0;  // GrubConfig::searches index, for Search
    std::string device; // for Device
};

// A path as a command names it: "(dev)/path" or "/path" on $root.
struct GrubPath {
    std::string path; // "/boot/vmlinuz", or "" when none
    GrubRoot root;
};

struct GrubEntry {
    std::string title, id;
    std::vector<size_t> searches; // GrubConfig::searches indexes, in the entry's body
    GrubPath kernel;
    std::vector<GrubPath> initrds;
    std::string rootArgument; // the kernel's root=, as written
};

// A top-level menuentry, or a submenu and its entries.
struct GrubItem {
    bool submenu = false;
    GrubEntry entry; // a submenu's title and id are entry.title and entry.id
    std::vector<GrubEntry> children;
};

struct GrubConfig {
    std::vector<GrubSearch> searches; // every search, at any place
    std::vector<size_t> topSearches;  // those outside the menu entries
    GrubPath prefix;                  // set prefix=
    std::vector<GrubPath> configFiles;
    std::string defaultText; // the last set default=, variables expanded
    bool defaultSet = false;
    std::vector<GrubItem> items;
    bool truncated = false; // more than the bounds allow: the rest not read
};

// Reads a configuration's text. savedEntry is grubenv's saved_entry ("" when
// none), the value of $saved_entry and ${saved_entry}.
GrubConfig ParseGrubConfig(const std::string& text, const std::string& savedEntry);

// grubenv's saved_entry= value; "" when the block is not an environment block
// or holds none.
std::string GrubEnvSavedEntry(const std::string& block);

// The entry that GRUB starts: the default by number, by title or by id (one
// "a>b" submenu step), else the first menuentry; nullptr when there is none.
const GrubEntry* DefaultGrubEntry(const GrubConfig& config);
