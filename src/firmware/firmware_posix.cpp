// The machine's own firmware on Linux: /sys/firmware/efi, which exists only when
// the kernel was started by UEFI, with its variables in efivarfs. Other POSIX
// systems have no such tree, and no firmware section.
#include "firmware/firmware_source.h"

const FirmwareSource* SystemFirmware() {
#if defined(__linux__)
    return TreeFirmware("/sys/firmware/efi");
#else
    return nullptr;
#endif
}
