// Bootsieve: reports the MBR, the partition tables, the boot sectors with their
// backups and sectors 1 to 62 of physical drives 0 to 9.
#include "driver/run.h"

int main() {
    return RunBootsieve(FileReports);
}
