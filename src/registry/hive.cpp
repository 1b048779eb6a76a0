#include "registry/hive.h"

#include <algorithm>
#include <cstring>

#include "disk/byte_order.h"
#include "output/utf8.h"

namespace {

constexpr uint32_t BaseBlockBytes = 4096;
constexpr uint32_t BinHeaderBytes = 32;
constexpr uint32_t BinAlignment = 4096;
constexpr uint32_t NoCell = 0xFFFFFFFF;
constexpr uint16_t KeyCompressedName = 0x0020;
constexpr uint16_t ValueCompressedName = 0x0001;
constexpr uint32_t InlineData = 0x80000000;
constexpr uint32_t BigDataSegmentBytes = 16344;
constexpr uint32_t BigDataMinorVersion = 4;
constexpr size_t KeyNameOffset = 0x4C;
constexpr size_t ValueNameOffset = 0x14;

bool Fail(Hive& hive, const char* reason) {
    if (!hive.unreadable) {
        hive.unreadable = true;
        hive.reason = reason;
    }
    return false;
}

uint32_t BaseBlockChecksum(const uint8_t* base) {
    uint32_t sum = 0;
    for (unsigned i = 0; i < 508; i += 4)
        sum ^= LoadLe32(base + i);
    return sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

// A cell in use: its data (after the size) and how many bytes it holds.
struct Cell {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// The cell at offset, inside one bin and in use, counted against the cap.
bool CellAt(Hive& hive, uint32_t offset, Cell* cell) {
    if (hive.unreadable)
        return false;
    if (++hive.objects > HiveMaxObjects)
        return Fail(hive, "more than 4096 objects");
    auto bin = std::upper_bound(hive.bins.begin(), hive.bins.end(), offset,
                                [](uint32_t o, const HiveBin& b) { return o < b.begin; });
    if (bin == hive.bins.begin() || offset % 8 != 0)
        return Fail(hive, "cell beyond the hive");
    --bin;
    if (offset < bin->begin + BinHeaderBytes || offset + 4 > bin->end)
        return Fail(hive, "cell beyond the hive");
    const uint8_t* at = hive.bytes.data() + BaseBlockBytes + offset;
    const int32_t size = static_cast<int32_t>(LoadLe32(at));
    if (size >= 0)
        return Fail(hive, "cell not in use");
    const uint32_t length = 0u - static_cast<uint32_t>(size);
    if (length < 8 || length > bin->end - offset)
        return Fail(hive, "cell beyond its bin");
    cell->data = at + 4;
    cell->size = length - 4;
    return true;
}

// A cell that begins with the two-letter signature and holds at least minimum bytes.
bool SignedCell(Hive& hive, uint32_t offset, const char* signature, uint32_t minimum, Cell* cell,
                const char* reason) {
    if (!CellAt(hive, offset, cell))
        return false;
    if (cell->size < minimum || std::memcmp(cell->data, signature, 2) != 0)
        return Fail(hive, reason);
    return true;
}

std::string NameText(const uint8_t* bytes, size_t length, bool compressed) {
    std::string text;
    if (compressed) {
        for (size_t i = 0; i < length; ++i)
            AppendUtf8(text, bytes[i]); // Latin-1
        return text;
    }
    size_t used = 1;
    for (size_t i = 0; i < length / 2; i += used) {
        const uint32_t code = Utf16CodeAt(bytes, length / 2, i, &used);
        AppendUtf8(text, IsSurrogate(code) ? 0xFFFD : code);
    }
    return text;
}

bool KeyCell(Hive& hive, uint32_t offset, Cell* key) {
    if (!SignedCell(hive, offset, "nk", KeyNameOffset, key, "bad key"))
        return false;
    if (KeyNameOffset + LoadLe16(key->data + 0x48) > key->size)
        return Fail(hive, "bad key");
    return true;
}

std::string KeyName(const Cell& key) {
    return NameText(key.data + KeyNameOffset, LoadLe16(key.data + 0x48),
                    LoadLe16(key.data + 2) & KeyCompressedName);
}

// The key offsets of one leaf list (lf, lh: eight bytes an entry; li: four).
bool LeafOffsets(Hive& hive, const Cell& list, std::vector<uint32_t>& keys) {
    const bool hashed =
        std::memcmp(list.data, "lf", 2) == 0 || std::memcmp(list.data, "lh", 2) == 0;
    if (!hashed && std::memcmp(list.data, "li", 2) != 0)
        return Fail(hive, "bad subkey list");
    const uint32_t stride = hashed ? 8 : 4, count = LoadLe16(list.data + 2);
    if (4 + uint64_t{count} * stride > list.size)
        return Fail(hive, "bad subkey list");
    for (uint32_t i = 0; i < count; ++i)
        keys.push_back(LoadLe32(list.data + 4 + i * stride));
    return true;
}

// The key offsets of a subkey list; an index root names leaf lists only.
bool SubkeyOffsets(Hive& hive, uint32_t offset, std::vector<uint32_t>& keys) {
    Cell list;
    if (!CellAt(hive, offset, &list))
        return false;
    if (list.size < 4)
        return Fail(hive, "bad subkey list");
    if (std::memcmp(list.data, "ri", 2) != 0)
        return LeafOffsets(hive, list, keys);
    const uint32_t count = LoadLe16(list.data + 2);
    if (4 + uint64_t{count} * 4 > list.size)
        return Fail(hive, "bad subkey list");
    for (uint32_t i = 0; i < count; ++i) {
        Cell leaf;
        if (!CellAt(hive, LoadLe32(list.data + 4 + i * 4), &leaf))
            return false;
        if (leaf.size < 4 || std::memcmp(leaf.data, "ri", 2) == 0)
            return Fail(hive, "bad subkey list");
        if (!LeafOffsets(hive, leaf, keys))
            return false;
    }
    return true;
}

std::string ValueName(const Cell& value) {
    return NameText(value.data + ValueNameOffset, LoadLe16(value.data + 2),
                    LoadLe16(value.data + 0x10) & ValueCompressedName);
}

bool TakeValueBytes(Hive& hive, uint64_t length) {
    hive.valueBytes += length;
    return hive.valueBytes <= HiveMaxValueBytes || Fail(hive, "more than 1 MiB of values");
}

// Data of more than one cell's worth, in the segments a big-data record lists.
bool BigData(Hive& hive, const Cell& record, uint32_t length, std::vector<uint8_t>& data) {
    const uint32_t segments = LoadLe16(record.data + 2);
    Cell list;
    if (!CellAt(hive, LoadLe32(record.data + 4), &list))
        return false;
    if (uint64_t{segments} * 4 > list.size)
        return Fail(hive, "bad value");
    for (uint32_t i = 0; i < segments && data.size() < length; ++i) {
        Cell segment;
        if (!CellAt(hive, LoadLe32(list.data + i * 4), &segment))
            return false;
        const uint32_t piece = std::min<uint32_t>(
            {segment.size, BigDataSegmentBytes, length - static_cast<uint32_t>(data.size())});
        data.insert(data.end(), segment.data, segment.data + piece);
    }
    return data.size() == length || Fail(hive, "bad value");
}

uint32_t MinorVersion(const Hive& hive) {
    return LoadLe32(hive.bytes.data() + 0x18);
}

bool ValueData(Hive& hive, const Cell& value, std::vector<uint8_t>& data) {
    const uint32_t field = LoadLe32(value.data + 4), at = LoadLe32(value.data + 8);
    data.clear();
    if (field & InlineData) {
        const uint32_t length = std::min<uint32_t>(field & ~InlineData, 4);
        data.assign(value.data + 8, value.data + 8 + length);
        return true;
    }
    if (field == 0)
        return true;
    if (!TakeValueBytes(hive, field))
        return false;
    Cell cell;
    if (!CellAt(hive, at, &cell))
        return false;
    if (field > BigDataSegmentBytes && MinorVersion(hive) >= BigDataMinorVersion &&
        cell.size >= 8 && std::memcmp(cell.data, "db", 2) == 0)
        return BigData(hive, cell, field, data);
    if (field > cell.size)
        return Fail(hive, "bad value");
    data.assign(cell.data, cell.data + field);
    return true;
}

} // namespace

bool SameHiveName(const std::string& a, const std::string& b) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return fold(x) == fold(y); });
}

bool OpenHive(Hive& hive, std::vector<uint8_t> bytes) {
    hive = Hive{};
    if (bytes.size() > HiveMaxBytes)
        bytes.resize(HiveMaxBytes);
    hive.bytes = std::move(bytes);
    const uint8_t* base = hive.bytes.data();
    if (hive.bytes.size() < BaseBlockBytes || std::memcmp(base, "regf", 4) != 0)
        return Fail(hive, "bad signature");
    if (LoadLe32(base + 0x1FC) != BaseBlockChecksum(base))
        return Fail(hive, "bad checksum");
    hive.primarySequence = LoadLe32(base + 4);
    hive.secondarySequence = LoadLe32(base + 8);
    hive.root = LoadLe32(base + 0x24);
    const uint64_t room = hive.bytes.size() - BaseBlockBytes;
    const uint64_t binsBytes = std::min<uint64_t>(LoadLe32(base + 0x28), room);
    for (uint64_t at = 0; at + BinHeaderBytes <= binsBytes;) {
        const uint8_t* bin = base + BaseBlockBytes + at;
        const uint32_t size = LoadLe32(bin + 8);
        if (std::memcmp(bin, "hbin", 4) != 0 || LoadLe32(bin + 4) != at || size == 0 ||
            size % BinAlignment != 0 || size > binsBytes - at)
            return Fail(hive, "bad hive bin");
        hive.bins.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(at + size)});
        at += size;
    }
    Cell root;
    return KeyCell(hive, hive.root, &root);
}

bool ListSubkeys(Hive& hive, uint32_t key, std::vector<HiveName>* subkeys) {
    subkeys->clear();
    Cell node;
    if (!KeyCell(hive, key, &node))
        return false;
    const uint32_t count = LoadLe32(node.data + 0x14), list = LoadLe32(node.data + 0x1C);
    if (count == 0 || list == NoCell)
        return true;
    std::vector<uint32_t> offsets;
    if (!SubkeyOffsets(hive, list, offsets))
        return false;
    if (offsets.size() != count)
        return Fail(hive, "bad subkey list");
    for (uint32_t offset : offsets) {
        Cell child;
        if (!KeyCell(hive, offset, &child))
            return false;
        subkeys->push_back({KeyName(child), offset});
    }
    return true;
}

bool FindSubkey(Hive& hive, uint32_t key, const std::string& name, uint32_t* found) {
    std::vector<HiveName> subkeys;
    if (!ListSubkeys(hive, key, &subkeys))
        return false;
    for (const HiveName& subkey : subkeys)
        if (SameHiveName(subkey.name, name)) {
            *found = subkey.cell;
            return true;
        }
    return false;
}

bool FindKey(Hive& hive, const std::string& path, uint32_t* found) {
    uint32_t at = hive.root;
    std::string name;
    for (char c : path + "\\") {
        if (c != '\\') {
            name += c;
            continue;
        }
        if (!name.empty() && !FindSubkey(hive, at, name, &at))
            return false;
        name.clear();
    }
    *found = at;
    return !hive.unreadable;
}

bool FindValue(Hive& hive, uint32_t key, const std::string& name, HiveValue* value) {
    Cell node;
    if (!KeyCell(hive, key, &node))
        return false;
    const uint32_t count = LoadLe32(node.data + 0x24), listAt = LoadLe32(node.data + 0x28);
    if (count == 0 || listAt == NoCell)
        return false;
    Cell list;
    if (!CellAt(hive, listAt, &list))
        return false;
    if (uint64_t{count} * 4 > list.size)
        return Fail(hive, "bad value list");
    for (uint32_t i = 0; i < count; ++i) {
        Cell cell;
        if (!SignedCell(hive, LoadLe32(list.data + i * 4), "vk", ValueNameOffset, &cell,
                        "bad value"))
            return false;
        if (ValueNameOffset + LoadLe16(cell.data + 2) > cell.size)
            return Fail(hive, "bad value");
        if (!SameHiveName(ValueName(cell), name))
            continue;
        value->name = ValueName(cell);
        value->type = LoadLe32(cell.data + 0xC);
        return ValueData(hive, cell, value->data);
    }
    return false;
}
