#include "partition/active_flags.h"

#include "output/output.h"

namespace {

constexpr uint8_t Active = 0x80;
constexpr uint8_t ProtectiveType = 0xEE;

} // namespace

// Every entry counts, empty or not: the boot code looks at the status bytes alone.
void ReportActiveFlags(const PartitionEntry table[PartitionEntries], const MbrBootCode& code) {
    for (int i = 0; i < PartitionEntries; ++i)
        if (table[i].type == ProtectiveType)
            return;
    int active = 0;
    for (int i = 0; i < PartitionEntries; ++i)
        active += table[i].status == Active;
    if (active > 1)
        Report("%d partitions are marked active.\n", active);
    for (int i = 0; i < PartitionEntries; ++i)
        if (table[i].status != 0 && table[i].status != Active)
            Report("#%d Status %02x is neither 00 nor 80.\n", i + 1, table[i].status);
    // The Windows boot code starts it, and stops at "Missing operating system".
    for (int i = 0; i < PartitionEntries; ++i)
        if (table[i].type == 0 && table[i].status == Active)
            Report("#%d Empty entry is marked active.\n", i + 1);
    if (active == 0 && BootsActivePartition(code))
        Report("No partition is marked active; the %s boot code needs one.\n",
               MbrBootCodeName(code));
}
