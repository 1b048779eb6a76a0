// Read-only registry hive reader: the base block, the hive bins and their cells,
// key nodes, subkey lists, value lists and values. It is given the bytes of a
// hive file and knows nothing of where they came from. Every cell is checked
// against the bin that holds it before use, lists are followed one level (an
// index root only to leaf lists), and a store stops being read after
// HiveMaxObjects cells or HiveMaxValueBytes bytes of value data: the first
// failure makes the hive unreadable, with a short reason kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint64_t HiveMaxBytes = 16u << 20; // read no more of a hive file
constexpr uint64_t HiveMaxObjects = 4096;
constexpr uint64_t HiveMaxValueBytes = 1u << 20;

struct HiveBin {
    uint32_t begin = 0; // offsets from the first bin, as cells are named
    uint32_t end = 0;
};

struct Hive {
    std::vector<uint8_t> bytes;
    std::vector<HiveBin> bins;
    uint32_t primarySequence = 0;
    uint32_t secondarySequence = 0;
    uint32_t root = 0; // the root key's cell
    uint64_t objects = 0;
    uint64_t valueBytes = 0;
    bool unreadable = false;
    std::string reason; // why, when unreadable
};

// One subkey or value name with the cell that holds it.
struct HiveName {
    std::string name; // UTF-8
    uint32_t cell = 0;
};

struct HiveValue {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

constexpr uint32_t RegSz = 1;
constexpr uint32_t RegBinary = 3;
constexpr uint32_t RegDword = 4;
constexpr uint32_t RegMultiSz = 7;
constexpr uint32_t RegQword = 11;

// Checks the base block and walks the bins; false, with the reason, when the
// bytes are no hive that can be read.
bool OpenHive(Hive& hive, std::vector<uint8_t> bytes);

// The subkeys of the key at cell, in the order of its lists.
bool ListSubkeys(Hive& hive, uint32_t key, std::vector<HiveName>* subkeys);
// The subkey of that name (without regard to case); false when missing or unreadable.
bool FindSubkey(Hive& hive, uint32_t key, const std::string& name, uint32_t* found);
// The key at the path of names separated by backslashes, from the root.
bool FindKey(Hive& hive, const std::string& path, uint32_t* found);
// The value of that name of the key ("" the default value).
bool FindValue(Hive& hive, uint32_t key, const std::string& name, HiveValue* value);

// Names equal without regard to ASCII case.
bool SameHiveName(const std::string& a, const std::string& b);
