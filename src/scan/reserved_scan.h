// Sectors 1 to 62, between the MBR and the traditional first partition start,
// where boot managers and some malware hide code.
#pragma once

// Reports every sector 1 to 62 that holds data; opens and closes the drive itself.
void ScanReservedSectors(int disk);
