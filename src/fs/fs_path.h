// Paths and names shared by the readers: a path split at its backslashes, names
// compared without regard to ASCII case, UTF-16 names as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// "\EFI\BOOT\BOOTX64.EFI" -> "EFI", "BOOT", "BOOTX64.EFI"; empty pieces dropped.
std::vector<std::string> SplitPath(const std::string& path);

// The name of units little-endian UTF-16 code units at bytes; an unpaired
// surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const uint8_t* bytes, size_t units);

// "." and "..", which no listing returns.
bool IsDotName(const std::string& name);
