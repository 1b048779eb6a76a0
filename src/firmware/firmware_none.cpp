// Programs linked with the memory disk backend never read the machine's own
// firmware: only a tree that BOOTSIEVE_FIRMWARE names is read there.
#include "firmware/firmware_source.h"

const FirmwareSource* SystemFirmware() {
    return nullptr;
}
