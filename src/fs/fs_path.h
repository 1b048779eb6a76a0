// Paths and names shared by the readers: a path split at its backslashes, names
// compared without regard to ASCII case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// "\EFI\BOOT\BOOTX64.EFI" -> "EFI", "BOOT", "BOOTX64.EFI"; empty pieces dropped.
std::vector<std::string> SplitPath(const std::string& path);

// "." and "..", which no listing returns.
bool IsDotName(const std::string& name);
