#include "layout/guid.h"

#include <cstdio>
#include <cstring>

#include "disk/byte_order.h"

namespace {

const GptType Types[] = {
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system partition", GptRole::ByContent, true},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot partition", GptRole::Skipped},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved", GptRole::Skipped},
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data", GptRole::ByContent, false,
     TypeFamily::Windows},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery environment", GptRole::ByContent,
     false, TypeFamily::Windows},
    {"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "Windows LDM metadata", GptRole::Skipped},
    {"AF9B60A0-1431-4F62-BC68-3311714A69AD", "Windows LDM data", GptRole::Other},
    {"E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "Windows storage spaces", GptRole::Other},
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem", GptRole::Other, false,
     TypeFamily::Linux},
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux root (x86-64)", GptRole::Other, false,
     TypeFamily::Linux},
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home", GptRole::Other, false,
     TypeFamily::Linux},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap", GptRole::Other, false,
     TypeFamily::Linux},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM", GptRole::Other, false, TypeFamily::Linux},
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID", GptRole::Other, false,
     TypeFamily::Linux},
    // XBOOTLDR: systemd-boot's /boot beside the ESP, FAT as a rule.
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", "Linux extended boot", GptRole::ByContent, false,
     TypeFamily::Linux},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS+", GptRole::Other},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS", GptRole::Other},
    {"44479540-F297-41B2-9AF7-D131D5F0458A", "Linux root (x86)", GptRole::Other, false,
     TypeFamily::Linux},
    {"B921B045-1DF0-41C3-AF44-4C6F280D3FAE", "Linux root (ARM64)", GptRole::Other, false,
     TypeFamily::Linux},
    {"8484680C-9521-48C6-9C11-B0720656F69E", "Linux /usr (x86-64)", GptRole::Other, false,
     TypeFamily::Linux},
    {"4D21B016-B534-45C2-A9FB-5C16E091FD2D", "Linux /var", GptRole::Other, false,
     TypeFamily::Linux},
    {"3B8F8425-20E0-4F3B-907F-1A25A76F98E8", "Linux /srv", GptRole::Other, false,
     TypeFamily::Linux},
    {"CA7D7CCB-63ED-4C53-861C-1742536059CC", "Linux LUKS", GptRole::Other, false,
     TypeFamily::Linux},
    {"7FFEC5C9-2D00-49B7-8941-3EA10A5586B7", "Linux dm-crypt", GptRole::Other, false,
     TypeFamily::Linux},
};

} // namespace

std::string FormatGuid(const uint8_t* g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  LoadLe32(g), LoadLe16(g + 4), LoadLe16(g + 6), g[8], g[9], g[10], g[11], g[12],
                  g[13], g[14], g[15]);
    return text;
}

bool IsZeroGuid(const uint8_t* guid) {
    for (unsigned i = 0; i < GuidSize; ++i)
        if (guid[i] != 0)
            return false;
    return true;
}

const GptType* LookupGptType(const uint8_t* guid) {
    const std::string text = FormatGuid(guid);
    for (const GptType& type : Types)
        if (text == type.guid)
            return &type;
    return nullptr;
}

TypeFamily GptTypeFamily(const uint8_t* guid) {
    const GptType* type = LookupGptType(guid);
    return type ? type->family : TypeFamily::Other;
}
