#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "firmware/boot_entries.h"
#include "layout/guid.h"
#include "output/output.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EndsWith(const std::string& text, const char* end) {
    const std::string tail = end;
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void ReportMissingOrderEntries(const BootVariables& variables) {
    std::set<unsigned> present, said;
    for (const BootEntry& entry : variables.entries)
        present.insert(entry.number);
    for (unsigned number : variables.order)
        if (!present.count(number) && said.insert(number).second)
            Report("BootOrder names Boot%04X, which does not exist.\n", number);
}

// The partition a hard drive node names and the path, without regard to case.
std::string StartedFile(const BootEntry& entry) {
    const LoadOption& option = entry.option;
    if (!option.damage.empty() || option.target != LoadTarget::Partition || !option.hasFile)
        return "";
    char partition[64];
    const HardDriveNode& hd = option.partition;
    if (hd.signatureType == GuidSignatureType)
        std::snprintf(partition, sizeof partition, "%s", FormatGuid(hd.signature).c_str());
    else
        std::snprintf(partition, sizeof partition, "%02X%02X%02X%02X #%u", hd.signature[3],
                      hd.signature[2], hd.signature[1], hd.signature[0], hd.partitionNumber);
    return std::string(partition) + " " + Lower(option.file);
}

// Each entry with the first one before it that starts the same file.
void ReportDuplicates(const BootVariables& variables) {
    std::map<std::string, unsigned> first;
    for (const BootEntry& entry : variables.entries) {
        const std::string file = StartedFile(entry);
        if (file.empty())
            continue;
        auto [it, isFirst] = first.emplace(file, entry.number);
        if (!isFirst)
            Report("Boot%04X and Boot%04X start the same file.\n", it->second, entry.number);
    }
}

void ReportMissingFiles(const BootVariables& variables) {
    for (const BootEntry& entry : variables.entries)
        if (entry.option.active && entry.partition && entry.file == FileLookup::Missing)
            Report("Boot%04X starts %s, which is missing.\n", entry.number,
                   entry.option.file.c_str());
}

void ReportNoEfiSystemPartition() {
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.efiSystem)
            return;
    Report("Firmware is UEFI, but no disk examined has an EFI system partition.\n");
}

// An active entry of BootOrder that names a partition on a disk examined and a
// file on it that is not missing.
void ReportNothingToStart(const BootVariables& variables) {
    const std::set<unsigned> order(variables.order.begin(), variables.order.end());
    for (const BootEntry& entry : variables.entries)
        if (order.count(entry.number) && entry.option.active && entry.partition &&
            entry.option.hasFile && entry.file != FileLookup::Missing)
            return;
    Report("Firmware is UEFI, but no entry in BootOrder starts a file on a disk examined.\n");
}

// A BIOS starts a disk through its MBR boot code: a GPT disk whose protective
// MBR holds none cannot start, which matters when it is the only disk with a
// Windows or Linux volume.
void ReportBiosDiskWithoutCode() {
    std::set<int> systemDisks;
    for (const PartitionRecord& p : RecordedPartitions())
        if (p.systemVolume)
            systemDisks.insert(p.disk);
    if (systemDisks.size() != 1)
        return;
    const int disk = *systemDisks.begin();
    const DriveRecord& drive = RecordedDrive(disk);
    if (drive.hasGpt && drive.bootCodeZero)
        Report("Firmware is BIOS, but disk %d has no MBR boot code; it can start only through "
               "UEFI.\n",
               disk);
}

// Loaders are told apart by the names they are installed under: BOOTX64.EFI,
// grubx64.efi, shimx64.efi for x64; BOOTIA32.EFI, grubia32.efi for 32-bit.
void Report32BitFirmware(const FirmwareFacts& facts) {
    if (facts.bits != 32)
        return;
    bool x64 = false, ia32 = false;
    for (const PartitionRecord& p : RecordedPartitions()) {
        if (!p.efiSystem)
            continue;
        for (const BootFileRecord& file : DetailsOf(p).bootFiles) {
            const std::string name = Lower(file.path);
            x64 |= EndsWith(name, "x64.efi");
            ia32 |= EndsWith(name, "ia32.efi");
        }
    }
    if (x64 && !ia32)
        Report("Firmware is UEFI in 32-bit mode; 64-bit loaders (BOOTX64.EFI) cannot start.\n");
}

} // namespace

void ReportFirmwareChecks(const FirmwareFacts& facts, const BootVariables* variables) {
    if (facts.mode == FirmwareMode::Bios) {
        ReportBiosDiskWithoutCode();
        return;
    }
    if (variables) {
        ReportMissingOrderEntries(*variables);
        ReportDuplicates(*variables);
        ReportMissingFiles(*variables);
    }
    ReportNoEfiSystemPartition();
    if (variables)
        ReportNothingToStart(*variables);
    Report32BitFirmware(facts);
}
