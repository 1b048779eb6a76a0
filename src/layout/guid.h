// GUIDs as the GUID partition table stores them (the first three fields
// little-endian), and the names of the partition types people meet on PCs.
#pragma once

#include <cstdint>
#include <string>

#include "layout/partition_types.h"

constexpr unsigned GuidSize = 16;

// "C12A7328-F81F-11D2-BA4B-00A0C93EC93B".
std::string FormatGuid(const uint8_t* guid);

bool IsZeroGuid(const uint8_t* guid);

// What the walk does with a partition of a type.
enum class GptRole {
    ByContent, // a file system that may hold boot code: read and examined by content
    Skipped,   // holds no file system worth a look
    Other,     // named, and its first sector shown
};

struct GptType {
    const char* guid; // as FormatGuid prints it
    const char* name;
    GptRole role;
    bool efiSystem = false; // the EFI system partition, where firmware looks for loaders
    TypeFamily family = TypeFamily::Other;
};

// The family of a GPT type: Other for a type without a row.
TypeFamily GptTypeFamily(const uint8_t* guid);

// The row of the type, or nullptr for a type without one.
const GptType* LookupGptType(const uint8_t* guid);
