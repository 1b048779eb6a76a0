#include "bootcode/mbr_boot_code.h"

#include <iterator>

#include "bootcode/boot_code.h"
#include "disk/disk_device.h"
#include "layout/mbr_layout.h"
#include "output/output.h"

// First match wins. Windows Vista and 7 share their first eight bytes and
// differ at 0xF0; the GRUB 2 releases differ in their jump and at 0x80; the
// Syslinux MBRs for MBR and GPT disks differ in the call at 0x5B.
const MbrCodeRow MbrCodeTable[] = {
    {"none (all zero)", {ZeroFrom(0, BootCodeSize - 1)}, NoTrait},
    {"Windows 2000/XP", {BytesAt(0, "33 C0 8E D0 BC 00 7C FB")}, BootsActive},
    {"Windows Vista", {BytesAt(0, "33 C0 8E D0 BC 00 7C 8E"), BytesAt(0xF0, "FB 54")}, BootsActive},
    {"Windows 7 to 11",
     {BytesAt(0, "33 C0 8E D0 BC 00 7C 8E"), BytesAt(0xF0, "43 50")},
     BootsActive},
    {"GRUB 2", {BytesAt(0, "EB 63"), BytesAt(0x80, "00 20")}, LoadsGrubCore},
    {"GRUB 2 (1.97 or 1.98)", {BytesAt(0, "EB 63"), BytesAt(0x80, "7C 3C")}, NoTrait},
    {"GRUB 2 (1.96)", {BytesAt(0, "EB 4C")}, NoTrait},
    {"GRUB Legacy", {BytesAt(0, "EB 48")}, NoTrait},
    {"Syslinux MBR", {BytesAt(0, "33 C0 FA"), BytesAt(0x5B, "E8 35 01")}, BootsActive},
    {"Syslinux GPT MBR", {BytesAt(0, "33 C0 FA"), BytesAt(0x5B, "0F B6 C6")}, NoTrait},
    {"LILO", {BytesAt(0, "FA EB")}, NoTrait},
    {"FreeDOS", {BytesAt(0, "FA B8 00 00")}, BootsActive},
    {"GNU Parted", {BytesAt(0, "FA B8 00 10")}, NoTrait},
    {"install-mbr", {BytesAt(0, "FC 31 C0 8E D0 31 E4 8E")}, BootsActive},
};

const int MbrCodeRows = static_cast<int>(std::size(MbrCodeTable));

MbrBootCode IdentifyMbrBootCode() {
    MbrBootCode code;
    code.windowsImage = IdentifyBootCode();
    for (const MbrCodeRow& row : MbrCodeTable)
        if (PassesAll(SectorBuffer, row.probes)) {
            code.row = &row;
            break;
        }
    return code;
}

const char* MbrBootCodeName(const MbrBootCode& code) {
    return code.row ? code.row->name : "not recognised";
}

bool HasTrait(const MbrBootCode& code, MbrCodeTrait trait) {
    return code.row && (code.row->traits & trait) != 0;
}

bool BootsActivePartition(const MbrBootCode& code) {
    return code.windowsImage != 0 || HasTrait(code, BootsActive);
}

void ReportMbrBootCode(const MbrBootCode& code) {
    if (code.windowsImage) {
        Report("MBRcode type %d\n", code.windowsImage);
        return;
    }
    Report("MBRcode compare failed\n");
    Report("MBR boot code: %s.\n", MbrBootCodeName(code));
}
