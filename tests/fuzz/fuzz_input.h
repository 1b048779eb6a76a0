// Layout of one fuzz input: a compact description of drive 0, so that sectors far
// from the start are reachable with a few hundred bytes.
//
//   byte 0       option bits (below)
//   bytes 1..8   disk size in sectors, u64 little-endian: what the size query reports
//   byte 9       how questions are answered (Answers, below, of the low 7 bits),
//                unless NoAnswers is set; bit 7 (LargeSectors): the drive has
//                4096-byte sectors
//   then records of 516 bytes: sector number (u32 little-endian) and the sector's
//   512 bytes; a short last record fills the start of its sector. Later records
//   overwrite earlier ones. Sectors not named are zero. Sectors of the records and
//   the disk size count in 512 bytes, whatever the drive's sector size.
//
// The drive's bytes end at the disk size, or after the last record's sector with
// EndsAfterLastRecord, and never beyond MaxImageSectors: sectors past the end read
// short, as on a medium that is smaller than it claims.
#pragma once

#include <cstdint>

namespace fuzz_input {

constexpr unsigned HeaderSize = 10;
constexpr unsigned ImageSectorSize = 512;
constexpr unsigned RecordSize = 4 + 512;
constexpr uint64_t MaxImageSectors = 8192; // 4 MiB

enum Option : uint8_t {
    SizeQueryFails = 0x01,
    ReadOnly = 0x02,
    SecondOpenFails = 0x04, // the detail pass cannot open the drive
    ThirdOpenFails = 0x08,  // the reserved-sector scan cannot open the drive
    EndsAfterLastRecord = 0x10,
    PartialLastSector = 0x20, // the last 256 bytes of the drive are missing
    NoAnswers = 0x40,         // standard input is at its end: every question answered no
    CopyOnDrive1 = 0x80,      // drive 1 holds the same image
};

constexpr uint8_t LargeSectors = 0x80;

// The low 7 bits of byte 9, modulo 3.
enum Answers : uint8_t {
    AnswerEveryQuestionYes = 0, // "y\n" lines without end
    AnswerEveryQuestionNo = 1,  // "n\n" lines without end
    InputFails = 2,             // every read fails, as on a closed standard input
};

inline unsigned AnswerMode(uint8_t byte) {
    return (byte & 0x7F) % 3;
}

} // namespace fuzz_input
