// Expected report text for tests: hex dumps, table listings, and the pieces of a
// disk report that a test compares exactly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "disk_image.h"

// The dump lines of one sector, 32 for 512 bytes: offset, 16 hexadecimal bytes,
// two blanks, text.
inline std::string HexDump(const Sector& sector) {
    std::string text;
    char piece[24];
    for (size_t line = 0; line < sector.size(); line += 16) {
        std::snprintf(piece, sizeof piece, "%03zx: ", line);
        text += piece;
        for (int i = 0; i < 16; ++i) {
            std::snprintf(piece, sizeof piece, "%02x ", sector[line + i]);
            text += piece;
        }
        text += ' ';
        for (int i = 0; i < 16; ++i) {
            uint8_t byte = sector[line + i];
            text += byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
        }
        text += '\n';
    }
    return text;
}

// The first line of a disk's report: with its size ("Size 64 = 0 MB (0 MiB)"), or
// without one when the size is not known.
inline std::string DiskHeader(int disk, const std::string& size = "") {
    return "----------------------- Disk " + std::to_string(disk) + " MBR " +
           (size.empty() ? "---------------------------- " : "-------------- " + size) + "\n";
}

inline const std::string ScanHeading = "Scan sectors 1 to 62 and check for zero.\n";

// A sector of the reserved-sector scan that holds data.
inline std::string ZeroCheck(uint64_t sector, const Sector& contents) {
    return "Zero check: sector " + std::to_string(sector) + " \n" + HexDump(contents);
}

// The console lines of the summary pass: one for each of the ten drives, "Open 1"
// for the drives in opened.
inline std::string SummaryPassLines(std::initializer_list<int> opened) {
    std::string text;
    for (int disk = 0; disk < 10; ++disk) {
        bool open = std::find(opened.begin(), opened.end(), disk) != opened.end();
        text += "A: Process disk " + std::to_string(disk) + ", Open " + (open ? "1" : "0") + "\n";
    }
    return text;
}

// The console line of a drive in the detail pass.
inline std::string DetailPassLine(int disk, bool opened = true) {
    return "B: Process disk " + std::to_string(disk) + ", Open " + (opened ? "1" : "0") + "\n";
}

inline const char* const ListingHeader = "#  Activeflag    Offset  _____Size____________   Type\n";

inline std::string ListingLine(int number, uint8_t status, uint32_t start, uint32_t count,
                               uint8_t type, const char* name) {
    char line[160];
    std::snprintf(line, sizeof line, "%d  %02x = %s  %10u %10u = %6u MiB  %02x = %s\n", number,
                  status, status == 0x80 ? "Yes" : "No ", start, count, count >> 11, type, name);
    return line;
}

inline std::string ExtendedHeading(int number, int disk) {
    return "\n#" + std::to_string(number) + " " + std::string(52, '.') + ">> Disk " +
           std::to_string(disk) + " Extended partition table\n";
}

// Lines of the walk over disk 0's partitions.
inline std::string BootSectorHeading(int number, const char* kind, uint64_t sector) {
    return ">> #" + std::to_string(number) + " Disk 0 " + kind + " Partition Boot sector (sector " +
           std::to_string(sector) + ")\n";
}

// A volume on which none of the files that boot paths need were found.
inline std::string NoBootFiles(int number) {
    return ">> Disk 0 #" + std::to_string(number) + " Boot files: none.\n";
}

inline std::string BackupOk(uint64_t sector) {
    return ">> Disk 0 Backup Boot sector (sector " + std::to_string(sector) +
           ")      Backup BPB is OK\n";
}

inline std::string Unlisted(int number, uint64_t sector, unsigned type = 0x83) {
    return "\n#" + std::to_string(number) + " >> Disk 0 Unlisted partition type " +
           std::to_string(type) + ". Examine sector " + std::to_string(sector) + "\n";
}

// The console from the backup's place to the repair question, for disk 0.
inline std::string RestoreQuestion(int number, uint64_t boot, uint64_t backup) {
    return "Backup BPB is at sector " + std::to_string(backup) +
           ".\nBackup BPB sector signature is OK.\n\nDisk 0 #" + std::to_string(number) +
           ": sector " + std::to_string(boot) + " will be overwritten with a copy of sector " +
           std::to_string(backup) + ".\nDo you want to replace BPB with backup? ";
}

inline std::string UnsignedBootSector(int number, uint64_t sector) {
    return "\n#" + std::to_string(number) + " BPB sector signature is not 0xaa55. (sector " +
           std::to_string(sector) + ")\n";
}

// What the walk of the MBR's partitions wrote: the text after the MBR's listing
// (and its reconciliation line), without the empty line that ends the disk.
inline std::string WalkOutput(const std::string& report) {
    size_t at = report.find(ListingHeader);
    if (at == std::string::npos)
        return "<no partition listing>";
    at += std::string(ListingHeader).size();
    for (int line = 0; line < 4 && at != std::string::npos; ++line)
        at = report.find('\n', at) + 1;
    if (report.compare(at, 14, "Partition size") == 0)
        at = report.find('\n', at) + 1;
    std::string walk = report.substr(at);
    if (walk.empty() || walk.back() != '\n')
        return "<disk report does not end with an empty line>";
    walk.pop_back();
    return walk;
}

// Each decoded boot parameter block, from its ">> Disk n BPB decoded:" line to the
// empty line that ends it, becomes "[BPB decoded]\n": its fields are another test's
// matter.
inline std::string FoldDecodedBpb(std::string text) {
    size_t from = 0;
    while ((from = text.find(">> Disk ", from)) != std::string::npos) {
        size_t title = text.find(" BPB decoded:\n", from);
        size_t lineEnd = text.find('\n', from);
        if (title == std::string::npos || title > lineEnd) {
            from = lineEnd;
            continue;
        }
        size_t end = text.find("\n\n", title + 14);
        if (end == std::string::npos)
            break;
        text.replace(from, end + 2 - from, "[BPB decoded]\n");
        from += 14;
    }
    return text;
}

// A folded boot parameter block with the boot code line that follows it, for the
// boot sectors that the builders make: their code area is all zero.
inline const std::string DecodedZeroCode = "[BPB decoded]\nBoot code: none (all zero).\n";

inline int CountOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// "" when equal; else where the texts part, with a little context. For texts too
// long to be printed whole by a failing expectation.
inline std::string FirstDifference(const std::string& actual, const std::string& expected) {
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    if (at == actual.size() && at == expected.size())
        return "";
    size_t from = at > 80 ? at - 80 : 0;
    return "texts part at byte " + std::to_string(at) + "\nactual:   ..." +
           actual.substr(from, 200) + "\nexpected: ..." + expected.substr(from, 200);
}
