#include "firmware/firmware_section.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "bootconfig/linux_boot_report.h"
#include "disk/byte_order.h"
#include "firmware/boot_entries.h"
#include "layout/guid.h"
#include "output/output.h"

namespace {

constexpr size_t GuidTextLength = 36;

// The recorded partitions by what a hard drive node names them by; the first
// in drive order wins when a cloned disk repeats a GUID or a signature.
struct PartitionIndex {
    std::map<std::string, const PartitionRecord*> byGuid; // FormatGuid of the unique GUID
    std::map<std::pair<uint32_t, unsigned>, const PartitionRecord*> byMbr; // signature, number
};

PartitionIndex IndexPartitions() {
    PartitionIndex index;
    for (const PartitionRecord& p : RecordedPartitions()) {
        if (p.origin == PartitionOrigin::Gpt)
            index.byGuid.emplace(FormatGuid(DetailsOf(p).uniqueGuid), &p);
        else
            index.byMbr.emplace(std::make_pair(RecordedDrive(p.disk).diskSignature, p.number), &p);
    }
    return index;
}

const PartitionRecord* FindPartition(const PartitionIndex& index, const HardDriveNode& hd) {
    if (hd.signatureType == GuidSignatureType) {
        auto it = index.byGuid.find(FormatGuid(hd.signature));
        return it == index.byGuid.end() ? nullptr : it->second;
    }
    auto it = index.byMbr.find({LoadLe32(hd.signature), hd.partitionNumber});
    return it == index.byMbr.end() ? nullptr : it->second;
}

// ---- Variables of numbers ----

struct Numbers {
    VariableState state = VariableState::Absent;
    bool wellFormed = true; // a whole number of u16 values, or exactly one
    std::vector<unsigned> values;
};

Numbers ReadNumbers(const FirmwareSource& source, const char* name, bool single) {
    const FirmwareVariable variable = source.read(name, GlobalVariableGuid);
    Numbers numbers;
    numbers.state = variable.state;
    const size_t size = variable.data.size();
    numbers.wellFormed = single ? size == 2 : size % 2 == 0;
    if (variable.state == VariableState::Read && numbers.wellFormed)
        for (size_t at = 0; at + 2 <= size; at += 2)
            numbers.values.push_back(LoadLe16(variable.data.data() + at));
    return numbers;
}

bool Unreadable(const Numbers& numbers) {
    return numbers.state == VariableState::Unreadable || !numbers.wellFormed;
}

void ReportBootCurrent(const Numbers& current) {
    if (current.state == VariableState::Absent)
        Report("BootCurrent: none\n");
    else if (Unreadable(current))
        Report("BootCurrent: unreadable\n");
    else
        Report("BootCurrent: %04X\n", current.values[0]);
}

void ReportBootOrder(const Numbers& order) {
    std::string text;
    for (unsigned number : order.values) {
        char piece[8];
        std::snprintf(piece, sizeof piece, "%s%04X", text.empty() ? "" : ",", number);
        text += piece;
    }
    if (order.state != VariableState::Absent && Unreadable(order))
        text = "unreadable";
    Report("BootOrder: %s\n", text.empty() ? "none" : text.c_str());
}

void ReportBootNext(const Numbers& next) {
    if (next.state == VariableState::Absent)
        return;
    if (Unreadable(next))
        Report("BootNext: unreadable\n");
    else
        Report("BootNext: %04X\n", next.values[0]);
}

// ---- Secure Boot and the boot partition ----

// One byte: 0 or 1.
int ReadFlag(const FirmwareSource& source, const char* name, VariableState* state) {
    const FirmwareVariable variable = source.read(name, GlobalVariableGuid);
    *state = variable.state;
    if (variable.state != VariableState::Read || variable.data.size() != 1 || variable.data[0] > 1)
        return -1;
    return variable.data[0];
}

void ReportSecureBoot(const FirmwareSource& source) {
    VariableState state, setupState;
    const int secureBoot = ReadFlag(source, "SecureBoot", &state);
    const int setupMode = ReadFlag(source, "SetupMode", &setupState);
    const char* text = secureBoot == 1   ? "enabled"
                       : secureBoot == 0 ? (setupMode == 1 ? "disabled, setup mode" : "disabled")
                                         : "unreadable";
    if (state == VariableState::Absent)
        text = "not supported";
    Report("Secure Boot: %s.\n", text);
}

// systemd-boot's LoaderDevicePartUUID: the GUID of the partition it was started
// from, as UTF-16 text in either case; "" when it is no such text.
std::string LoaderPartitionGuid(const std::vector<uint8_t>& data) {
    std::string text;
    for (size_t at = 0; at + 2 <= data.size() && text.size() <= GuidTextLength; at += 2) {
        const unsigned unit = LoadLe16(data.data() + at);
        if (unit == 0)
            break;
        const bool dash =
            text.size() == 8 || text.size() == 13 || text.size() == 18 || text.size() == 23;
        const bool hex = (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f') ||
                         (unit >= 'A' && unit <= 'F');
        if (dash ? unit != '-' : !hex)
            return "";
        text += static_cast<char>(unit >= 'a' ? unit - 'a' + 'A' : unit);
    }
    return text.size() == GuidTextLength ? text : "";
}

void ReportBootedFrom(const FirmwareSource& source, const PartitionIndex& index) {
    const FirmwareVariable variable = source.read("LoaderDevicePartUUID", LoaderVariableGuid);
    if (variable.state == VariableState::Absent)
        return;
    const std::string guid = LoaderPartitionGuid(variable.data);
    auto it = index.byGuid.find(guid);
    if (guid.empty() || variable.state != VariableState::Read)
        Report("Booted from: unreadable\n");
    else if (it == index.byGuid.end())
        Report("Booted from: partition %s, on no disk examined.\n", guid.c_str());
    else
        Report("Booted from: disk %d #%u (%s)\n", it->second->disk, it->second->number,
               RecordedTypeName(*it->second).c_str());
}

// ---- The entries ----

BootEntry ReadEntry(const FirmwareSource& source, unsigned number, VariableState* state) {
    char name[16];
    std::snprintf(name, sizeof name, "Boot%04X", number);
    const FirmwareVariable variable = source.read(name, GlobalVariableGuid);
    *state = variable.state;
    BootEntry entry;
    entry.number = number;
    if (variable.state == VariableState::Read)
        entry.option = ParseLoadOption(variable.data.data(), variable.data.size());
    else
        entry.option.damage = "variable unreadable: " + variable.why;
    return entry;
}

void MatchEntry(BootEntry& entry, const PartitionIndex& index) {
    const LoadOption& option = entry.option;
    if (!option.damage.empty() || option.target != LoadTarget::Partition)
        return;
    entry.partition = FindPartition(index, option.partition);
    if (entry.partition && option.hasFile)
        entry.file = LookUpBootFile(*entry.partition, option.file, &entry.fileSize);
}

// Those of BootOrder first in its order, then the others in number order. The
// source lists its entries where it can; the numbers that BootOrder,
// BootCurrent and BootNext name are read in any case.
std::vector<BootEntry> ReadEntries(const FirmwareSource& source, const PartitionIndex& index,
                                   const std::vector<unsigned>& order,
                                   const std::vector<unsigned>& named) {
    std::vector<unsigned> listed;
    source.listBootEntries(&listed);
    std::set<unsigned> others(listed.begin(), listed.end());
    others.insert(named.begin(), named.end());
    std::set<unsigned> done;
    std::vector<BootEntry> entries;
    auto take = [&](unsigned number) {
        if (!done.insert(number).second)
            return;
        VariableState state;
        BootEntry entry = ReadEntry(source, number, &state);
        if (state == VariableState::Absent)
            return;
        MatchEntry(entry, index);
        entries.push_back(std::move(entry));
    };
    for (unsigned number : order)
        take(number);
    for (unsigned number : others)
        take(number);
    return entries;
}

void ReportPartitionTarget(const BootEntry& entry) {
    const HardDriveNode& hd = entry.option.partition;
    const PartitionRecord* p = entry.partition;
    if (!p && hd.signatureType == GuidSignatureType) {
        Report("    partition %s, on no disk examined.\n", FormatGuid(hd.signature).c_str());
    } else if (!p) {
        Report("    MBR partition %u of disk signature %08X, on no disk examined.\n",
               hd.partitionNumber, LoadLe32(hd.signature));
    } else {
        // Where the boot entry still looks for the partition that has moved.
        std::string moved;
        if (hd.start != p->first || hd.size != p->count) {
            char text[96];
            std::snprintf(text, sizeof text, ", moved: the entry says sectors %llu to %llu",
                          Ull(hd.start), Ull(hd.size ? hd.start + hd.size - 1 : hd.start));
            moved = text;
        }
        Report("    disk %d #%u (%s)%s\n", p->disk, p->number, RecordedTypeName(*p).c_str(),
               moved.c_str());
    }
    if (!entry.option.hasFile)
        return;
    const char* path = entry.option.file.c_str();
    if (entry.file == FileLookup::Found)
        Report("    file %s: %llu bytes\n", path, Ull(entry.fileSize));
    else
        Report("    file %s: %s\n", path,
               entry.file == FileLookup::Missing ? "missing" : "not checked");
    const std::string config = p ? LoaderConfigLine(*p, entry.option.file) : "";
    if (!config.empty())
        Report("%s", config.c_str());
}

bool SameText(const std::string& a, const std::string& b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Windows' boot manager on a partition whose BCD the summary pass read: the
// entry it starts by default, and where that entry's loader is.
void ReportBcdDefault(const BootEntry& entry) {
    if (!entry.partition || !entry.option.hasFile ||
        !SameText(entry.option.file, "\\EFI\\Microsoft\\Boot\\bootmgfw.efi"))
        return;
    const BcdDefaultRecord* bcd =
        RecordedBcdDefault(*entry.partition, "\\EFI\\Microsoft\\Boot\\BCD");
    if (!bcd)
        return;
    const char* description = bcd->description.c_str();
    if (!bcd->problem.empty())
        Report("    BCD %s\n", bcd->problem.c_str());
    else if (bcd->matched && bcd->file == FileLookup::Found)
        Report("    BCD default \"%s\": disk %d #%d %s: %llu bytes\n", description, bcd->loaderDisk,
               bcd->loaderPlace, bcd->loader.c_str(), Ull(bcd->size));
    else if (bcd->matched)
        Report("    BCD default \"%s\": disk %d #%d %s: %s\n", description, bcd->loaderDisk,
               bcd->loaderPlace, bcd->loader.c_str(),
               bcd->file == FileLookup::Missing ? "missing" : "not checked");
    else
        Report("    BCD default \"%s\": %s %s: not checked\n", description, bcd->device.c_str(),
               bcd->loader.c_str());
}

void ReportEntry(const BootEntry& entry) {
    const LoadOption& option = entry.option;
    Report("Boot%04X%c %s\n", entry.number, option.active ? '*' : ' ',
           option.described ? option.description.c_str() : "(no description)");
    if (!option.damage.empty()) {
        Report("    damaged entry (%s).\n", option.damage.c_str());
        return;
    }
    switch (option.target) {
    case LoadTarget::Partition:
        ReportPartitionTarget(entry);
        ReportBcdDefault(entry);
        break;
    case LoadTarget::Legacy: Report("    legacy BIOS entry.\n"); break;
    case LoadTarget::FirmwareApplication: Report("    firmware application.\n"); break;
    case LoadTarget::Other: Report("    device path without a partition.\n"); break;
    }
}

void ReportVariables(const FirmwareSource& source, const FirmwareFacts& facts) {
    const PartitionIndex index = IndexPartitions();
    ReportSecureBoot(source);
    const Numbers current = ReadNumbers(source, "BootCurrent", true);
    const Numbers order = ReadNumbers(source, "BootOrder", false);
    const Numbers next = ReadNumbers(source, "BootNext", true);
    ReportBootCurrent(current);
    ReportBootOrder(order);
    ReportBootedFrom(source, index);
    ReportBootNext(next);
    std::vector<unsigned> named = current.values;
    named.insert(named.end(), next.values.begin(), next.values.end());
    BootVariables variables;
    variables.order = order.values;
    variables.entries = ReadEntries(source, index, order.values, named);
    for (const BootEntry& entry : variables.entries)
        ReportEntry(entry);
    ReportFirmwareChecks(facts, &variables);
}

} // namespace

void WriteFirmwareSection() {
    const FirmwareSource* source = ChooseFirmwareSource();
    if (!source)
        return;
    Report("\n-------------------------------------------------------- Firmware\n");
    const FirmwareFacts facts = source->open();
    if (facts.mode == FirmwareMode::Bios) {
        Report("Firmware: BIOS, or UEFI in legacy (CSM) mode.\n");
        ReportFirmwareChecks(facts, nullptr);
    } else if (!facts.variablesReadable) {
        Report("Firmware: UEFI; its variables cannot be read (%s).\n", facts.whyUnreadable.c_str());
        ReportFirmwareChecks(facts, nullptr);
    } else {
        Report("Firmware: UEFI, %d-bit.\n", facts.bits);
        ReportVariables(*source, facts);
    }
}
