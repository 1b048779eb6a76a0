// Writes the fuzz target's seed corpus (inputs in the layout of fuzz_input.h) into
// the directory given as the first argument: crafted disks that reach every
// partition type, extended chains and their loops, the backup comparisons, the
// restore, the reserved-sector scan and the device failures, named boot code, the
// GRUB 2 core image and the active flags, hidden sectors, sizes and $MFT records,
// and the FAT and NTFS volumes whose files the boot files examination reads.
// Further arguments name disk image files that become seeds as well: the
// Makefile's fuzz target gives the sample images and an ext4 volume of mke2fs.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bootcode/boot_code.h"
#include "disk_image.h"
#include "fuzz_input.h"

namespace {

using namespace fuzz_input;

// Records count in 512 bytes: a larger sector is the records of its pieces that
// hold data.
std::vector<uint8_t> Encode(const DiskImage& disk, uint8_t options) {
    const uint64_t pieces = disk.sectorSize / ImageSectorSize;
    std::vector<uint8_t> input(HeaderSize);
    input[0] = options;
    PutLe(input.data() + 1, disk.sectors * pieces, 8);
    for (const auto& [sector, contents] : disk.data) {
        for (uint64_t piece = 0; piece < pieces; ++piece) {
            const uint8_t* bytes = contents.data() + piece * ImageSectorSize;
            const uint64_t record = sector * pieces + piece;
            if (record > UINT32_MAX ||
                std::all_of(bytes, bytes + ImageSectorSize, [](uint8_t b) { return b == 0; }))
                continue;
            size_t at = input.size();
            input.resize(at + RecordSize);
            PutLe(input.data() + at, record, 4);
            std::memcpy(input.data() + at + 4, bytes, ImageSectorSize);
        }
    }
    return input;
}

// The drive has the disk's sector size, unless driveSectorSize names another: a
// table made for one size on a drive of the other.
bool WriteSeed(const std::string& dir, const std::string& name, const DiskImage& disk,
               uint8_t options = 0, uint8_t answers = AnswerEveryQuestionYes,
               unsigned driveSectorSize = 0) {
    std::vector<uint8_t> input = Encode(disk, options);
    const unsigned drive = driveSectorSize ? driveSectorSize : disk.sectorSize;
    input[9] = static_cast<uint8_t>(answers | (drive == 4096 ? LargeSectors : 0));
    std::string path = dir + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file && std::fwrite(input.data(), 1, input.size(), file) == input.size();
    ok = file && std::fclose(file) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "bootsieve_fuzz_seeds: cannot write %s\n", path.c_str());
    return ok;
}

// Bytes as they are: a hive file, which the target reads as one as well.
bool WriteRawSeed(const std::string& dir, const std::string& name,
                  const std::vector<uint8_t>& bytes) {
    std::string path = dir + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = file && std::fclose(file) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "bootsieve_fuzz_seeds: cannot write %s\n", path.c_str());
    return ok;
}

void PutBootCode(DiskImage& disk, const uint8_t* code) {
    std::memcpy(disk.At(0).data(), code, BootCodeSize);
}

struct Logical {
    uint8_t type;
    uint32_t count;
};

// An extended partition at extStart holding the logical partitions in order: each
// extended boot record lists its logical partition one track (63 sectors) after
// itself and links to the next record relative to extStart.
void PutExtendedChain(DiskImage& disk, uint32_t extStart, const std::vector<Logical>& logicals) {
    uint32_t record = extStart;
    for (size_t i = 0; i < logicals.size(); ++i) {
        uint32_t volume = record + 63;
        uint32_t next = volume + logicals[i].count;
        SetEntry(disk, record, 0, 0, logicals[i].type, 63, logicals[i].count);
        if (i + 1 < logicals.size())
            SetEntry(disk, record, 1, 0, 0x05, next - extStart, logicals[i + 1].count + 63);
        Sign(disk, record);
        switch (logicals[i].type) {
        case 0x07: PutNtfsWithBackup(disk, volume, logicals[i].count); break;
        case 0x0B:
        case 0x0C: PutFat32WithBackup(disk, volume, logicals[i].count); break;
        case 0x01:
        case 0x06:
        case 0x0E: PutFat16BootSector(disk, volume, volume, logicals[i].count); break;
        default: Sign(disk, volume); break;
        }
        record = next;
    }
}

// NTFS, FAT32, FAT16 and an extended partition with logical FAT16, NTFS, FAT32,
// Linux and dynamic-disk partitions; boot code of the first kind; every backup equal.
DiskImage Classic() {
    DiskImage disk = BlankDisk(8000);
    PutBootCode(disk, BootCodeTemplate1);
    PutTable(disk, 0,
             {{0x80, 0x07, 63, 1500},
              {0, 0x0C, 1563, 1500},
              {0, 0x06, 3063, 800},
              {0, 0x0F, 3863, 4137}});
    PutNtfsWithBackup(disk, 63, 1500);
    PutFat32WithBackup(disk, 1563, 1500);
    PutFat16BootSector(disk, 3063, 3063, 800);
    PutExtendedChain(disk, 3863, {{0x06, 600}, {0x07, 700}, {0x0B, 800}, {0x83, 300}, {0x42, 200}});
    return disk;
}

// Backups that differ at byte 3, are all zero, unsigned, or beyond the disk's end.
DiskImage BackupsDiffer() {
    DiskImage disk = BlankDisk(9000);
    PutBootCode(disk, BootCodeTemplate2);
    PutTable(disk, 0,
             {{0x80, 0x07, 63, 2000},
              {0, 0x0C, 2063, 2000},
              {0, 0x07, 4063, 1000},
              {0, 0x07, 5063, 90000}});
    PutNtfsWithBackup(disk, 63, 2000);
    disk.At(2062)[3] ^= 0x20;
    PutFat32BootSector(disk, 2063, 2063, 2000, 6);
    PutNtfsWithBackup(disk, 4063, 1000);
    Unsign(disk, 5062);
    PutNtfsBootSector(disk, 5063, 5063, 89999);
    return disk;
}

// FAT32 whose backup field is 0, so the backup is the boot sector itself; a FAT32
// backup that is signed but differs; an NTFS of one sector.
DiskImage OddBackupPlaces() {
    DiskImage disk = BlankDisk(3000);
    PutTable(disk, 0,
             {{0, 0x0B, 63, 1000}, {0, 0x0C, 1063, 1000}, {0, 0x07, 2063, 1}, {0, 0x07, 2100, 0}});
    PutFat32BootSector(disk, 63, 63, 1000, 0);
    PutFat32WithBackup(disk, 1063, 1000);
    disk.At(1069)[0x47] = 'X';
    PutNtfsBootSector(disk, 2063, 2063, 0);
    PutNtfsBootSector(disk, 2100, 2100, 0);
    return disk;
}

// Primary boot sectors without their signature: FAT32 at 63 with its backup at 69,
// NTFS with its backup at its end, an all-zero FAT32 boot sector with a signed
// backup, a FAT16 (no backup, no question) and an NTFS whose backup is unsigned.
DiskImage BrokenBootSectors() {
    DiskImage disk = BlankDisk(6000);
    PutBootCode(disk, BootCodeTemplate1);
    PutTable(disk, 0,
             {{0x80, 0x0C, 63, 1000},
              {0, 0x07, 1063, 1000},
              {0, 0x0B, 2063, 1000},
              {0, 0x06, 3063, 1000}});
    PutFat32WithBackup(disk, 63, 1000);
    Unsign(disk, 63);
    PutNtfsWithBackup(disk, 1063, 1000);
    Unsign(disk, 1063);
    PutFat32BootSector(disk, 2069, 2063, 1000, 6);
    PutFat16BootSector(disk, 3063, 3063, 1000);
    Unsign(disk, 3063);
    return disk;
}

DiskImage BrokenNtfsUnsignedBackup() {
    DiskImage disk = BlankDisk(2000);
    PutTable(disk, 0, {{0, 0x07, 63, 1000}, {0, 0x0C, 1063, 900}});
    PutNtfsWithBackup(disk, 63, 1000);
    Unsign(disk, 63);
    Unsign(disk, 1062);
    Fill(disk, 1069, 0xF6);
    return disk;
}

// exFAT in types 07 and 0C (one with its backup region differing), and an NTFS
// partition whose broken boot sector has an exFAT boot sector where its backup
// belongs.
DiskImage ExFatVolumes() {
    DiskImage disk = BlankDisk(400);
    PutTable(disk, 0, {{0, 0x07, 63, 100}, {0, 0x0C, 163, 100}, {0, 0x07, 263, 100}});
    PutExFatVolume(disk, 63, 100);
    PutExFatVolume(disk, 163, 100);
    disk.At(163 + 17)[40] = 0x01;
    Fill(disk, 263, 0x11);
    PutExFatVolume(disk, 362, 1);
    return disk;
}

// BitLocker in type 07 and in a FAT32 type, and a logical one.
DiskImage BitLockerVolumes() {
    DiskImage disk = BlankDisk(400);
    PutTable(disk, 0, {{0, 0x07, 63, 100}, {0, 0x0C, 163, 100}, {0, 0x0F, 263, 137}});
    PutBitLockerBootSector(disk, 63);
    PutBitLockerBootSector(disk, 163);
    PutTable(disk, 263, {{0, 0x07, 10, 100}});
    PutBitLockerBootSector(disk, 273);
    return disk;
}

// A GPT disk of 8192 sectors: ESP (FAT32) and basic data (NTFS) with backups, a
// Linux partition; and one with overlapping, reversed and outside entries, an
// unsigned ESP and a hybrid MBR entry.
DiskImage GptVolumes(bool hostile) {
    DiskImage disk = BlankDisk(8192);
    GptLayout layout = StandardGpt(8192, {{EspType, 2048, 4095, u"EFI system partition"},
                                          {BasicDataType, 4096, 6143, u"Basic data"},
                                          {LinuxType, 6144, 8000, u"Linux"}});
    if (hostile) {
        layout.entries.push_back({BasicDataType, 3000, 5000, u"overlap\u0001"});
        layout.entries.push_back({LinuxType, 7000, 6500, u""});
        layout.entries.push_back({EspType, 10, 20, u""});
    }
    PutGpt(disk, layout);
    PutFat32WithBackup(disk, 2048, 2048);
    PutNtfsWithBackup(disk, 4096, 2048);
    if (hostile) {
        Unsign(disk, 2048);
        SetEntry(disk, 0, 1, 0x80, 0x07, 4096, 2048);
    }
    return disk;
}

// Places and backups a repair must not trust: primaries that overlap, one over
// sector 0's neighbours, a foreign NTFS boot sector as backup, and backups of
// two file systems in one partition, every boot sector broken.
DiskImage UntrustedBackups() {
    DiskImage disk = BlankDisk(6000);
    PutTable(disk, 0,
             {{0x80, 0x07, 63, 1000},
              {0, 0x07, 500, 563},
              {0, 0x07, 2000, 1000},
              {0, 0x0C, 3063, 2000}});
    PutNtfsWithBackup(disk, 63, 1000);
    PutNtfsBootSector(disk, 2999, 999999, 5000000);
    PutFat32WithBackup(disk, 3063, 2000);
    PutNtfsBootSector(disk, 5062, 3063, 1999);
    for (uint64_t sector : {63, 500, 2000, 3063})
        Unsign(disk, sector);
    return disk;
}

// A reversed GPT entry whose wrapped last sector is another volume's boot sector,
// beside an unsigned ESP.
DiskImage GptReversedEntry() {
    DiskImage disk = BlankDisk(8192);
    PutGpt(disk, StandardGpt(8192, {{EspType, 2048, 4095, u""},
                                    {BasicDataType, 4096, 8000, u""},
                                    {BasicDataType, 5000, 4096, u""}}));
    PutFat32WithBackup(disk, 2048, 2048);
    PutNtfsWithBackup(disk, 4096, 3905);
    Unsign(disk, 2048);
    return disk;
}

// A disk of 4096-byte sectors: a GPT with an ESP whose boot sector lost its
// signature and an NTFS volume, on a drive of 4096-byte sectors and on one of 512.
DiskImage GptOf4096ByteSectors() {
    DiskImage disk = BlankDisk(1024, 4096);
    PutGpt(disk, StandardGpt(1024, {{EspType, 256, 511, u"EFI"}, {BasicDataType, 512, 980, u""}}));
    PutFat32WithBackup(disk, 256, 256);
    PutNtfsWithBackup(disk, 512, 469);
    Unsign(disk, 256);
    return disk;
}

// Extended tables that lead back: a link to its own record, a link to the first
// record, an MBR extended entry naming the MBR, and a link whose sum wraps past 2^32.
DiskImage LoopedChains() {
    DiskImage disk = BlankDisk(4000);
    PutTable(disk, 0,
             {{0, 0x05, 100, 1000}, {0, 0x0F, 0, 1}, {0, 0x05, 2000, 1000}, {0, 0x05, 100, 1000}});
    // First chain: 100 -> 300 -> back to 100, and 300 names itself.
    PutTable(disk, 100, {{0, 0x06, 63, 100}, {0, 0x05, 200, 500}});
    PutFat16BootSector(disk, 163, 163, 100);
    PutTable(disk, 300, {{0, 0x05, 0, 500}, {0, 0x05, 200, 500}, {0, 0x83, 63, 100}});
    Sign(disk, 363);
    // Second chain: a link of 2^32 - 2000 wraps to sector 0, the MBR; one of
    // 2^32 - 1000 wraps to 1000, a record that links back to 2000.
    PutTable(disk, 2000, {{0, 0x0F, 0xFFFFF830, 10}, {0, 0x0F, 0xFFFFFC18, 10}});
    PutTable(disk, 1000, {{0, 0x05, 0, 10}, {0, 0x05, 0xFFFFFC18, 10}});
    return disk;
}

DiskImage LongChain(int records) {
    DiskImage disk = BlankDisk(MaxImageSectors);
    PutTable(disk, 0, {{0, 0x0F, 64, MaxImageSectors - 64}});
    std::vector<Logical> logicals(records, Logical{0x83, 1});
    PutExtendedChain(disk, 64, logicals);
    return disk;
}

DiskImage ZeroMbrWithBootSectorAt63() {
    DiskImage disk = BlankDisk(1000);
    PutFat16BootSector(disk, 63, 63, 900);
    return disk;
}

DiskImage UnsignedMbr() {
    DiskImage disk = BlankDisk(1000);
    PutBootCode(disk, BootCodeTemplate1);
    SetEntry(disk, 0, 0, 0x80, 0x07, 63, 900);
    PutNtfsWithBackup(disk, 63, 900);
    return disk;
}

// All four entries of type 0, some with starts; sector 63 holds data.
DiskImage NoPartition() {
    DiskImage disk = BlankDisk(200);
    SetEntry(disk, 0, 0, 0x80, 0, 63, 100);
    SetEntry(disk, 0, 2, 0, 0, 1, 0xFFFFFFFF);
    Sign(disk, 0);
    Fill(disk, 63, 0x3C);
    return disk;
}

DiskImage ReservedSectorData() {
    DiskImage disk = BlankDisk(3000);
    PutTable(disk, 0, {{0x80, 0x07, 63, 2000}});
    PutNtfsWithBackup(disk, 63, 2000);
    for (uint64_t sector = 1; sector <= 3; ++sector)
        Fill(disk, sector, static_cast<uint8_t>(0x40 + sector));
    Fill(disk, 4, 0xF6);
    disk.At(5)[511] = 1;
    Fill(disk, 62, 0xFF);
    return disk;
}

// A protective GPT entry on a disk of more than 2 TiB.
DiskImage ProtectiveGpt() {
    DiskImage disk = BlankDisk(uint64_t{1} << 33);
    PutTable(disk, 0, {{0, 0xEE, 1, 0xFFFFFFFF}});
    Fill(disk, 1, 0x45);
    return disk;
}

// Partitions beyond 1 TiB and past the disk's end, dynamic disks, unlisted types.
DiskImage FarAndUnreadable() {
    DiskImage disk = BlankDisk(uint64_t{3} << 31);
    PutTable(disk, 0,
             {{0, 0x07, 0x90000000, 0x1000000},
              {0, 0x42, 0xF0000000, 100},
              {0, 0x42, 63, 100},
              {0, 0xDE, 200, 100}});
    Sign(disk, 63);
    Sign(disk, 200);
    return disk;
}

// Boot sectors with unusual fields: E9 jumps, hidden sectors of 2^31, an OEM ID of
// four letters and four zero bytes, labels of blanks, starting with a zero byte,
// holding a control byte and a byte over 0x7F.
DiskImage OddBootSectorFields() {
    DiskImage disk = BlankDisk(4000);
    PutTable(
        disk, 0,
        {{0, 0x07, 63, 1000}, {0, 0x0E, 1063, 1000}, {0, 0x0C, 2063, 1000}, {0, 0x01, 3063, 900}});
    PutNtfsWithBackup(disk, 63, 1000);
    uint8_t* ntfs = disk.At(63).data();
    ntfs[0] = 0xE9;
    PutLe(ntfs + 0x1C, 0x80000000, 4);
    std::memcpy(ntfs + 3, "ABCD\0\0\0\0", 8);
    PutFat16BootSector(disk, 1063, 1063, 1000);
    uint8_t* fat16 = disk.At(1063).data();
    fat16[0] = 0xE9;
    std::memcpy(fat16 + 0x2B, "           ", 11);
    PutFat32BootSector(disk, 2063, 0x80000000, 0xFFFFFFFF, 6);
    uint8_t* fat32 = disk.At(2063).data();
    fat32[0x47] = 0;
    fat32[0x4A] = '\n';
    fat32[0x52] = 0xE4;
    disk.At(2069) = disk.At(2063);
    PutFat16BootSector(disk, 3063, 3063, 0);
    uint8_t* fat12 = disk.At(3063).data();
    fat12[0x2C] = 0x07;
    fat12[0x36 + 4] = 0xFF;
    return disk;
}

// A disk of 40 sectors: sector 63 and the end of the scan are past its end.
DiskImage TinyMedium() {
    DiskImage disk = BlankDisk(40);
    Fill(disk, 10, 0x11);
    return disk;
}

// The last sector, which holds an NTFS backup, is cut short on the medium.
DiskImage NtfsBackupInLastSector() {
    DiskImage disk = BlankDisk(1063);
    PutTable(disk, 0, {{0, 0x07, 63, 1000}});
    PutNtfsWithBackup(disk, 63, 1000);
    return disk;
}

// GRUB 2 boot code naming its core image at sector core, which holds the first
// bytes of GRUB 2.06's diskboot.img when present.
DiskImage GrubMbr(uint64_t core, bool present) {
    DiskImage disk = BlankDisk(2000);
    PutHex(disk, 0, 0, "EB 63 90");
    PutHex(disk, 0, 0x80, "00 20");
    PutLe(disk.At(0).data() + 0x5C, core, 8);
    PutTable(disk, 0, {{0x80, 0x06, 63, 900}});
    PutFat16BootSector(disk, 63, 63, 900);
    if (present)
        PutHex(disk, core, 0, "52 56 BE 1B");
    return disk;
}

// Windows 7 boot code over a table with two active entries, one of status 81 and
// one that is not active: each problem of the status bytes at once.
DiskImage ActiveFlagProblems() {
    DiskImage disk = BlankDisk(4000);
    PutHex(disk, 0, 0, "33 C0 8E D0 BC 00 7C 8E");
    PutHex(disk, 0, 0xF0, "43 50");
    PutTable(disk, 0,
             {{0x80, 0x07, 63, 1000},
              {0x81, 0x06, 1063, 1000},
              {0x80, 0x0C, 2063, 1000},
              {0x00, 0x42, 3063, 900}});
    PutNtfsWithBackup(disk, 63, 1000);
    PutFat16BootSector(disk, 1063, 1063, 1000);
    PutFat32WithBackup(disk, 2063, 1000);
    return disk;
}

// Volumes that no longer fit where they lie: NTFS moved (hidden sectors of its
// old place) with its $MFT cluster changed, FAT32 enlarged beyond its partition,
// a logical FAT16 larger than its partition, and an NTFS whose $MFTMirr cluster
// is far outside.
DiskImage MisplacedVolumes() {
    DiskImage disk = BlankDisk(6000);
    PutBootCode(disk, BootCodeTemplate1);
    PutTable(disk, 0,
             {{0x80, 0x07, 63, 1500},
              {0, 0x0C, 1563, 1500},
              {0, 0x07, 3063, 1000},
              {0, 0x0F, 4063, 1937}});
    PutNtfsWithBackup(disk, 63, 1500);
    PutLe(disk.At(63).data() + 0x1C, 2048, 4);
    PutLe(disk.At(63).data() + 0x30, 7, 8);
    PutFat32WithBackup(disk, 1563, 1500);
    PutLe(disk.At(1563).data() + 0x20, 4000, 4);
    PutNtfsWithBackup(disk, 3063, 1000);
    PutLe(disk.At(3063).data() + 0x38, 0x8000000000000000u, 8);
    PutExtendedChain(disk, 4063, {{0x06, 800}});
    PutLe(disk.At(4126).data() + 0x13, 900, 2);
    return disk;
}

// The files each boot path needs: a GPT disk whose ESP holds Windows' loaders and
// whose basic data volume holds a compressed \bootmgr without its BCD; an MBR disk
// with an ESP of type EF, an active NTFS volume whose Windows boot code misses
// \bootmgr and a FAT32 stick with XP boot code.
// A store as Windows leaves one, naming partitions of no disk here.
const std::vector<uint8_t> Store =
    UefiBcdStore("11111111-1111-4111-8111-111111111111", "33333333-3333-4333-8333-333333333333",
                 "44444444-4444-4444-8444-444444444444", "5ec7a1b0-0000-4000-8000-00000000d15c");

DiskImage BootFilesGpt() {
    DiskImage disk = BlankDisk(MaxImageSectors);
    PutGpt(disk, StandardGpt(MaxImageSectors, {{EspType, 2048, 4095, u"EFI system partition"},
                                               {BasicDataType, 4096, 8000, u"Basic data"}}));
    PutFat32WithBackup(disk, 2048, 2048);
    PutFatFiles(disk, 2048,
                {{"\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 1500},
                 {"\\EFI\\Microsoft\\Boot\\BCD", Store.size()},
                 {"\\EFI\\BOOT\\BOOTX64.EFI", 1400},
                 {"\\EFI\\ubuntu\\shimx64.efi", 900}},
                {{"\\EFI\\Microsoft\\Boot\\BCD", Store}});
    PutNtfsWithBackup(disk, 4096, 3905);
    PutNtfsFiles(disk, 4096,
                 {{"\\bootmgr", 9000, true}, {"\\Windows\\System32\\winload.efi", 700}});
    return disk;
}

DiskImage BootFilesMbr() {
    DiskImage disk = BlankDisk(MaxImageSectors);
    PutTable(disk, 0, {{0, 0xEF, 63, 2100}, {0x80, 0x07, 2163, 2100}, {0, 0x0C, 4263, 2100}});
    PutFat32WithBackup(disk, 63, 2100);
    PutFatFiles(disk, 63, {{"\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 1500}});
    PutNtfsWithBackup(disk, 2163, 2100);
    PutNtfsFiles(disk, 2163, {{"\\Boot\\BCD", 3000}});
    PutHex(disk, 2163, 0x80, "55 AA 75 06");
    PutHex(disk, 2163, 0x110, "0A 13");
    PutFat32WithBackup(disk, 4263, 2100);
    PutFatFiles(disk, 4263, {{"\\boot.ini", 200}, {"\\boot\\grub\\grub.cfg", 90}});
    PutHex(disk, 4263, 0x80, "B6 D1");
    return disk;
}

// Structures the readers must not follow: a FAT32 root whose full cluster names
// itself as the next, an NTFS root record whose update sequence does not match.
DiskImage BootFilesHostile() {
    DiskImage disk = BlankDisk(MaxImageSectors);
    PutTable(disk, 0, {{0x80, 0x0C, 63, 2100}, {0, 0x07, 2163, 2100}});
    PutFat32WithBackup(disk, 63, 2100);
    const uint64_t root = 63 + 32 + 2 * 3; // after two FATs of three sectors
    for (uint64_t s = root; s < root + 8; ++s)
        Fill(disk, s, 0x41);
    PutLe(disk.At(63 + 32).data() + 2 * 4, 2, 4);
    PutNtfsWithBackup(disk, 2163, 2100);
    PutNtfsFiles(disk, 2163, {{"\\bootmgr", 9000}, {"\\Boot\\BCD", 3000}});
    disk.At(2163 + 32 + 10)[510] ^= 0xFF;
    return disk;
}

// Turns an image file into a seed; sectors past the fuzz image's limit read short.
bool ConvertImageFile(const std::string& dir, const std::string& path) {
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    if (bytes.empty()) {
        std::fprintf(stderr, "bootsieve_fuzz_seeds: cannot read %s\n", path.c_str());
        return false;
    }
    uint64_t sectors = bytes.size() / 512;
    bytes.resize(std::min<size_t>(bytes.size(), MaxImageSectors * 512));
    DiskImage disk = FromBytes(bytes);
    disk.sectors = sectors;
    std::string name = path.substr(path.find_last_of('/') + 1);
    // The sample images of 4096-byte sectors are named so.
    const unsigned drive = name.find("4kn") != std::string::npos ? 4096 : 512;
    return WriteSeed(dir, "image-" + name, disk, 0, AnswerEveryQuestionYes, drive);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [IMAGE...]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    bool ok = true;
    ok &= WriteSeed(dir, "classic", Classic());
    ok &= WriteSeed(dir, "classic-size-unknown", Classic(), SizeQueryFails);
    ok &= WriteSeed(dir, "classic-second-open-fails", Classic(), SecondOpenFails);
    ok &= WriteSeed(dir, "classic-third-open-fails", Classic(), ThirdOpenFails);
    ok &= WriteSeed(dir, "classic-two-drives", Classic(), CopyOnDrive1 | EndsAfterLastRecord);
    ok &= WriteSeed(dir, "backups-differ", BackupsDiffer());
    ok &= WriteSeed(dir, "odd-backup-places", OddBackupPlaces());
    ok &= WriteSeed(dir, "broken-boot-sectors", BrokenBootSectors());
    ok &= WriteSeed(dir, "broken-boot-sectors-read-only", BrokenBootSectors(), ReadOnly);
    ok &= WriteSeed(dir, "broken-boot-sectors-no-answer", BrokenBootSectors(), NoAnswers);
    ok &= WriteSeed(dir, "broken-boot-sectors-answered-n", BrokenBootSectors(), 0,
                    AnswerEveryQuestionNo);
    ok &= WriteSeed(dir, "broken-boot-sectors-input-fails", BrokenBootSectors(), 0, InputFails);
    ok &= WriteSeed(dir, "broken-boot-sectors-two-drives", BrokenBootSectors(), CopyOnDrive1);
    ok &= WriteSeed(dir, "broken-ntfs-unsigned-backup", BrokenNtfsUnsignedBackup());
    ok &= WriteSeed(dir, "looped-chains", LoopedChains());
    ok &= WriteSeed(dir, "exfat-volumes", ExFatVolumes());
    ok &= WriteSeed(dir, "gpt", GptVolumes(false));
    ok &= WriteSeed(dir, "gpt-hostile", GptVolumes(true));
    ok &= WriteSeed(dir, "gpt-reversed-entry", GptReversedEntry());
    ok &= WriteSeed(dir, "untrusted-backups", UntrustedBackups());
    ok &= WriteSeed(dir, "gpt-4096-byte-sectors", GptOf4096ByteSectors());
    ok &= WriteSeed(dir, "gpt-4096-on-512", GptOf4096ByteSectors(), 0, AnswerEveryQuestionYes, 512);
    ok &= WriteSeed(dir, "bitlocker-volumes", BitLockerVolumes());
    ok &= WriteSeed(dir, "long-chain", LongChain(120));
    ok &= WriteSeed(dir, "zero-mbr", ZeroMbrWithBootSectorAt63());
    ok &= WriteSeed(dir, "zero-mbr-tiny", TinyMedium());
    ok &= WriteSeed(dir, "unsigned-mbr", UnsignedMbr());
    ok &= WriteSeed(dir, "no-partition", NoPartition());
    ok &= WriteSeed(dir, "reserved-sector-data", ReservedSectorData());
    ok &= WriteSeed(dir, "protective-gpt", ProtectiveGpt(), EndsAfterLastRecord);
    ok &= WriteSeed(dir, "far-and-unreadable", FarAndUnreadable(), EndsAfterLastRecord);
    ok &= WriteSeed(dir, "odd-boot-sector-fields", OddBootSectorFields());
    ok &= WriteSeed(dir, "ntfs-backup-cut-short", NtfsBackupInLastSector(), PartialLastSector);
    ok &= WriteSeed(dir, "grub2-core-present", GrubMbr(1, true));
    ok &= WriteSeed(dir, "grub2-core-missing", GrubMbr(1, false));
    ok &= WriteSeed(dir, "grub2-core-past-the-end", GrubMbr(1u << 20, false));
    ok &= WriteSeed(dir, "active-flag-problems", ActiveFlagProblems());
    ok &= WriteSeed(dir, "misplaced-volumes", MisplacedVolumes());
    ok &= WriteSeed(dir, "boot-files-gpt", BootFilesGpt());
    ok &= WriteSeed(dir, "boot-files-mbr", BootFilesMbr());
    ok &= WriteSeed(dir, "boot-files-hostile", BootFilesHostile());
    ok &= WriteRawSeed(dir, "bcd-store", Store);
    for (int i = 2; i < argc; ++i)
        ok &= ConvertImageFile(dir, argv[i]);
    return ok ? 0 : 1;
}
