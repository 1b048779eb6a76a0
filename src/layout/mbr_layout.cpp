#include "layout/mbr_layout.h"

#include "disk/byte_order.h"

void LoadPartitionTable(const uint8_t* sector, PartitionEntry table[PartitionEntries]) {
    for (int i = 0; i < PartitionEntries; ++i) {
        const uint8_t* raw = sector + PartitionTableOffset + PartitionEntrySize * i;
        table[i].status = raw[0];
        table[i].type = raw[4];
        table[i].start = LoadLe32(raw + 8);
        table[i].count = LoadLe32(raw + 12);
    }
}
