// Paths and names shared by the readers: a path split at its backslashes, names
// compared without regard to ASCII case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// "\EFI\BOOT\BOOTX64.EFI" -> "EFI", "BOOT", "BOOTX64.EFI"; empty pieces dropped.
std::vector<std::string> SplitPath(const std::string& path);
// The same at another separator: "/boot/grub" at '/'.
std::vector<std::string> SplitPath(const std::string& path, char separator);

// "." and "..", which no listing returns.
bool IsDotName(const std::string& name);
