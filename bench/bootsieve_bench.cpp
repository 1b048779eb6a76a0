// Timing of the whole run (summary pass, detail pass, reserved-sector scan) over
// in-memory drives: a disk with NTFS, FAT32, FAT16 and two logical partitions, a
// GPT disk with Windows' boot files in 512-byte and in 4096-byte sectors, and
// chains of 1,000 to 100,000 extended boot records. Reports and console lines go
// to /dev/null.
//
// Reads per extended record and per logical partition come from MemoryDrive::reads
// on twin images: the same chain without its logical partitions, and the same
// chain cut after its first record. Their differences leave the reads that the
// records and the logical partitions cost, free of the fixed reads (MBR, primary
// partitions, scan).
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bootcode/boot_code.h"
#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/memory_disk.h"
#include "disk/sector.h"
#include "disk_image.h"
#include "driver/disk_report.h"
#include "driver/run.h"
#include "layout/mbr_layout.h"
#include "output/output.h"
#include "partition/partition_walk.h"
#include "scan/reserved_scan.h"
#include "volume/boot_files.h"

// Heap bytes in use and their high-water mark, for every C++ allocation of the
// process (the program under test allocates with new only).
namespace {
std::atomic<size_t> HeapInUse{0};
std::atomic<size_t> HeapPeak{0};

void CountAllocation(void* p) {
    size_t now = HeapInUse += malloc_usable_size(p);
    size_t peak = HeapPeak.load();
    while (now > peak && !HeapPeak.compare_exchange_weak(peak, now)) {
    }
}
} // namespace

void* operator new(size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    CountAllocation(p);
    return p;
}

void operator delete(void* p) noexcept {
    if (!p)
        return;
    HeapInUse -= malloc_usable_size(p);
    std::free(p);
}

void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

namespace {

constexpr uint32_t ExtendedStart = 2048;
constexpr int Passes = 2; // the summary and the detail pass both walk the chain

struct Layout {
    std::string name;
    int records;  // extended boot records in the chain
    int logicals; // logical partitions, one in each record
    unsigned sectorSize = 512;
};

constexpr const char* FourPartitions = "four partitions";

// Writes sector contents straight into a dense image.
void PutSector(std::vector<uint8_t>& bytes, uint64_t sector, const Sector& contents) {
    std::memcpy(bytes.data() + sector * 512, contents.data(), 512);
}

// A chain of extended boot records packed two sectors apart: the record, then its
// logical FAT16 partition of one sector; each record links to the next one.
std::vector<uint8_t> ChainImage(int records, bool withLogicals) {
    uint64_t sectors = ExtendedStart + 2 * uint64_t(records) + 64;
    std::vector<uint8_t> bytes(sectors * 512);
    DiskImage mbr = BlankDisk(1);
    PutTable(mbr, 0, {{0, 0x0F, ExtendedStart, static_cast<uint32_t>(2 * records)}});
    PutSector(bytes, 0, mbr.At(0));
    DiskImage scratch = BlankDisk(2);
    PutFat16BootSector(scratch, 1, 0, 1);
    for (int i = 0; i < records; ++i) {
        uint32_t record = ExtendedStart + 2 * i;
        scratch.At(0).fill(0);
        if (withLogicals)
            SetEntry(scratch, 0, 0, 0, 0x06, 1, 1);
        if (i + 1 < records)
            SetEntry(scratch, 0, 1, 0, 0x05, 2 * (i + 1), 2);
        Sign(scratch, 0);
        PutSector(bytes, record, scratch.At(0));
        PutLe(scratch.At(1).data() + 0x1C, record + 1, 4);
        PutSector(bytes, record + 1, scratch.At(1));
    }
    return bytes;
}

// A disk of 64 MiB as a DOS-era installation leaves it: boot code, a loader in
// sectors 1 and 2, NTFS, FAT32 and FAT16 primary partitions and an extended
// partition holding a FAT16 and an NTFS logical partition.
std::vector<uint8_t> FourPartitionImage(bool withLogicals, bool secondRecord) {
    DiskImage disk = BlankDisk(131072);
    std::memcpy(disk.At(0).data(), BootCodeTemplate1, BootCodeSize);
    PutTable(disk, 0,
             {{0x80, 0x07, 63, 32067},
              {0, 0x0C, 32130, 32130},
              {0, 0x06, 64260, 16065},
              {0, 0x0F, 80325, 50715}});
    Fill(disk, 1, 0x5A);
    Fill(disk, 2, 0xA5);
    PutNtfsWithBackup(disk, 63, 32067);
    PutFat32WithBackup(disk, 32130, 32130);
    PutFat16BootSector(disk, 64260, 64260, 16065);
    // Logical FAT16 one track after the first record; the second record at 96390.
    uint32_t first = 80325, second = 96390;
    if (withLogicals)
        SetEntry(disk, first, 0, 0, 0x06, 63, 16002);
    if (secondRecord)
        SetEntry(disk, first, 1, 0, 0x05, second - first, 34650);
    Sign(disk, first);
    PutFat16BootSector(disk, first + 63, first + 63, 16002);
    if (withLogicals)
        SetEntry(disk, second, 0, 0, 0x07, 63, 34587);
    Sign(disk, second);
    PutNtfsWithBackup(disk, second + 63, 34587);
    return ToBytes(disk);
}

constexpr const char* GptDisk = "GPT disk";
constexpr const char* GptDisk4096 = "GPT disk 4Kn";

// The Linux partition of the GPT disk, in 512-byte sectors: an ext4 root volume.
constexpr uint64_t LinuxFirst = 125952;
constexpr uint64_t LinuxSectors = 131040 - 125952;
const std::string GrubCfg =
    "set default=0\nset timeout=5\nmenuentry 'Debian GNU/Linux' {\n"
    "\tsearch --no-floppy --fs-uuid --set=root "
    "2f6f1b1e-0000-4000-8000-000000000001\n"
    "\tlinux /boot/vmlinuz-6.1 root=UUID=2f6f1b1e-0000-4000-8000-000000000001 "
    "ro quiet\n\tinitrd /boot/initrd.img-6.1\n}\n";
const std::string Fstab =
    "UUID=2f6f1b1e-0000-4000-8000-000000000001 / ext4 errors=remount-ro 0 1\n";

// A 64 MiB GPT disk as Windows and Linux share it: EFI system partition (FAT32)
// with Windows' loader files, its BCD store and the fallback loader, Microsoft reserved, basic
// data (NTFS, a Windows installation's boot files) and recovery (NTFS), Linux; in
// sectors of 512 bytes, or the same disk in 4096-byte sectors.
std::vector<uint8_t> GptImage(unsigned sectorSize) {
    const uint32_t k = sectorSize / 512;
    DiskImage disk = BlankDisk(131072 / k, sectorSize);
    PutGpt(disk, StandardGpt(131072 / k,
                             {{EspType, 2048 / k, 67584 / k - 1, u"EFI system partition"},
                              {ReservedType, 67584 / k, 100352 / k - 1, u"Microsoft reserved"},
                              {BasicDataType, 100352 / k, 116736 / k - 1, u"Basic data partition"},
                              {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", 116736 / k, 125952 / k - 1,
                               u"Windows RE"},
                              {LinuxType, 125952 / k, 131039 / k - 1, u"Linux"}}));
    PutFat32WithBackup(disk, 2048 / k, 65536 / k);
    // The store names the partitions by the unique GUIDs that PutGpt gives them.
    const std::vector<uint8_t> store = UefiBcdStore(
        "00000001-0000-4000-8000-000000000001", "00000003-0000-4000-8000-000000000003",
        "00000004-0000-4000-8000-000000000004", "5EC7A1B0-0000-4000-8000-00000000D15C");
    PutFatFiles(disk, 2048 / k,
                {{"\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 1572864},
                 {"\\EFI\\Microsoft\\Boot\\bootmgr.efi", 1556480},
                 {"\\EFI\\Microsoft\\Boot\\memtest.efi", 1263616},
                 {"\\EFI\\Microsoft\\Boot\\BCD", store.size()},
                 {"\\EFI\\BOOT\\BOOTX64.EFI", 1572864}},
                {{"\\EFI\\Microsoft\\Boot\\BCD", store}});
    PutNtfsWithBackup(disk, 100352 / k, 16384 / k);
    PutNtfsFiles(disk, 100352 / k,
                 {{"\\bootmgr", 413738},
                  {"\\Boot\\BCD", 28672},
                  {"\\Windows\\System32\\winload.efi", 2248520},
                  {"\\Windows\\System32\\winload.exe", 1979104},
                  {"\\Windows\\System32\\winresume.efi", 1163968}});
    PutNtfsWithBackup(disk, 116736 / k, 9216 / k);
    PutNtfsFiles(disk, 116736 / k, {{"\\Recovery\\WindowsRE\\Winre.wim", 4194304}});
    PutExtVolume(disk, LinuxFirst / k, LinuxSectors / k,
                 {{"\\boot\\vmlinuz-6.1", 1048576},
                  {"\\boot\\initrd.img-6.1", 1048576},
                  {"\\boot\\grub\\grub.cfg", GrubCfg.size()},
                  {"\\boot\\grub\\grubenv", 1024},
                  {"\\boot\\grub\\i386-pc\\normal.mod", 36864},
                  {"\\etc\\fstab", Fstab.size()}},
                 {{"\\boot\\grub\\grub.cfg", GrubCfg}, {"\\etc\\fstab", Fstab}});
    return ToBytes(disk);
}

bool IsFourPartitionLayout(const Layout& layout) {
    return layout.name == FourPartitions;
}

bool IsGptLayout(const Layout& layout) {
    return layout.name == GptDisk || layout.name == GptDisk4096;
}

std::vector<uint8_t> FullImage(const Layout& layout) {
    if (IsGptLayout(layout))
        return GptImage(layout.sectorSize);
    if (IsFourPartitionLayout(layout))
        return FourPartitionImage(true, true);
    return ChainImage(layout.records, true);
}

std::vector<uint8_t> WithoutLogicals(const Layout& layout) {
    if (IsFourPartitionLayout(layout))
        return FourPartitionImage(false, true);
    return ChainImage(layout.records, false);
}

std::vector<uint8_t> FirstRecordOnly(const Layout& layout) {
    if (IsFourPartitionLayout(layout))
        return FourPartitionImage(false, false);
    return ChainImage(1, false);
}

// Resident memory from /proc/self/status: field is "VmRSS" or "VmHWM" (the peak
// since the last ResetPeakRss). 0 when it cannot be read.
long ResidentKb(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long kb = 0;
    size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            kb = std::atol(line + length + 1);
    std::fclose(status);
    return kb;
}

// Linux resets the peak resident size when "5" is written to clear_refs.
bool ResetPeakRss() {
    FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (!refs)
        return false;
    bool ok = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && ok;
}

long MaxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

FILE* DevNull(const char* mode) {
    FILE* file = std::fopen("/dev/null", mode);
    if (!file) {
        std::perror("/dev/null");
        std::exit(1);
    }
    return file;
}

// Reports go to /dev/null; the end of the summary report marks the end of the
// summary pass.
FILE* ReportSinkFile = nullptr;
std::chrono::steady_clock::time_point SummaryEnd;

bool OpenNullReport(const char*) {
    ReportStream = ReportSinkFile;
    return true;
}

bool CloseNullReport(const char* name) {
    std::fflush(ReportStream);
    if (std::strcmp(name, "Bootsieve.txt") == 0)
        SummaryEnd = std::chrono::steady_clock::now();
    return true;
}

const ReportSink NullReports = {OpenNullReport, CloseNullReport};

struct RunResult {
    double seconds;
    double summarySeconds; // the summary pass alone
    unsigned reads;
    size_t heapPeak; // bytes above the heap in use when the run started
};

// The whole sequence of the program over drive 0.
RunResult RunWhole(std::vector<uint8_t>& image, unsigned sectorSize = 512) {
    MemoryDrive& drive = MemoryDriveAt(0);
    drive.bytes.swap(image);
    drive.present = true;
    drive.sectorSize = sectorSize;
    drive.reads = 0;
    size_t base = HeapInUse.load();
    HeapPeak = base;
    auto start = std::chrono::steady_clock::now();
    RunBootsieve(NullReports);
    std::fflush(ConsoleOut);
    auto end = std::chrono::steady_clock::now();
    RunResult result{std::chrono::duration<double>(end - start).count(),
                     std::chrono::duration<double>(SummaryEnd - start).count(), drive.reads,
                     HeapPeak.load() - base};
    drive.bytes.swap(image);
    return result;
}

struct Row {
    std::string name;
    int records;
    int repetitions;
    double medianMs;
    double minMs;
    double summaryMs;
    unsigned reads;
    double readsPerRecord;
    double readsPerLogical;
    size_t heapPeak;
    size_t imageKb;
    long rssPeakKb; // the process's peak resident size while the runs went on
};

// Reads of the whole run over an image that is built for it and freed afterwards.
unsigned ReadsOfRun(std::vector<uint8_t> image) {
    return RunWhole(image).reads;
}

Row Measure(const Layout& layout) {
    std::vector<uint8_t> image = FullImage(layout);
    bool peakReset = ResetPeakRss();
    std::vector<double> times, summaryTimes;
    RunResult first = RunWhole(image, layout.sectorSize);
    times.push_back(first.seconds);
    summaryTimes.push_back(first.summarySeconds);
    double total = first.seconds;
    // Repeats until a second has been spent, at least 3 and at most 50 runs.
    while ((total < 1.0 || times.size() < 3) && times.size() < 50) {
        RunResult again = RunWhole(image, layout.sectorSize);
        times.push_back(again.seconds);
        summaryTimes.push_back(again.summarySeconds);
        total += again.seconds;
    }
    std::sort(times.begin(), times.end());
    std::sort(summaryTimes.begin(), summaryTimes.end());
    Row row{};
    row.name = layout.name;
    row.records = layout.records;
    row.repetitions = static_cast<int>(times.size());
    row.medianMs = times[times.size() / 2] * 1000;
    row.minMs = times.front() * 1000;
    row.summaryMs = summaryTimes[summaryTimes.size() / 2] * 1000;
    row.reads = first.reads;
    row.heapPeak = first.heapPeak;
    row.imageKb = image.size() / 1024;
    row.rssPeakKb = peakReset ? ResidentKb("VmHWM") : MaxRssKb();
    image = {};
    if (IsGptLayout(layout))
        return row; // no chain to count reads in

    unsigned linkReads = ReadsOfRun(WithoutLogicals(layout));
    unsigned firstReads = ReadsOfRun(FirstRecordOnly(layout));
    row.readsPerRecord =
        double(linkReads - firstReads) / (Passes * std::max(1, layout.records - 1));
    row.readsPerLogical = double(first.reads - linkReads) / (Passes * layout.logicals);
    return row;
}

std::string WithSeparators(uint64_t n) {
    std::string digits = std::to_string(n);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

void PrintTable(const std::vector<Row>& rows) {
    std::printf("\n%-16s %8s %5s %10s %10s %10s %9s %7s %8s %9s %10s %10s\n", "disk", "records",
                "runs", "median ms", "min ms", "summary ms", "reads", "/record", "/logical",
                "heap KiB", "image KiB", "RSS KiB");
    for (const Row& r : rows)
        std::printf("%-16s %8s %5d %10.3f %10.3f %10.3f %9s %7.2f %8.2f %9s %10s %10s\n",
                    r.name.c_str(), WithSeparators(r.records).c_str(), r.repetitions, r.medianMs,
                    r.minMs, r.summaryMs, WithSeparators(r.reads).c_str(), r.readsPerRecord,
                    r.readsPerLogical, WithSeparators((r.heapPeak + 1023) / 1024).c_str(),
                    WithSeparators(r.imageKb).c_str(), WithSeparators(r.rssPeakKb).c_str());
    std::printf(
        "\nmedian ms, min ms: wall time of one whole run (summary pass, detail pass, scan);\n"
        "  summary ms: the summary pass alone (median).\n"
        "reads: sector reads of one whole run (MemoryDrive::reads).\n"
        "/record: reads per extended boot record and pass; /logical: reads per logical\n"
        "  partition and pass (its boot sector; an NTFS one also its $MFT, $MFTMirr and\n"
        "  backup; the sectors its boot files are looked for in); both from twin images\n"
        "  without the logical partitions and cut after the first record.\n"
        "GPT disk: its ESP holds Windows' loader files and its basic data volume the files of\n"
        "  a Windows installation. Looking for the boot files took its whole run from 185\n"
        "  reads and 0.19 ms (median; summary pass 0.08 ms) to 239 reads and 0.26 ms\n"
        "  (0.12 ms) when it came, on a machine of 2 shared cores. Its ESP holds a BCD store\n"
        "  of 28 KiB: reading it in both passes and matching its entries took the run from\n"
        "  296 reads and 0.157 ms (summary pass 0.063 ms) to 429 reads and 0.255 ms (0.112 ms). Its Linux\n"
        "  partition holds an ext4 root volume (/boot with a kernel, an initrd and GRUB's files;\n"
        "  /etc/fstab); its boot files read through ExamineExtFiles cost 36 reads and 0.04 ms\n"
        "  for both passes (24 reads in 4Kn); reading whole directory blocks took 100.\n"
        "heap KiB: peak of the run's own allocations. image KiB: the in-memory disk.\n"
        "RSS KiB: peak resident size of the whole process during the runs, image included.\n");
}

// The boot files of the GPT disk's ext4 volume, both passes, through ExamineExtFiles
// itself: what the walk costs more once it calls it for a Linux volume.
void MeasureExtFiles(unsigned sectorSize) {
    std::vector<uint8_t> image = GptImage(sectorSize);
    MemoryDrive& drive = MemoryDriveAt(0);
    drive.bytes.swap(image);
    drive.present = true;
    drive.sectorSize = sectorSize;
    if (OpenDisk(0) != 1)
        return;
    ReportStream = ReportSinkFile;
    const uint64_t k = sectorSize / 512;
    PartitionPlace place{
        0,         Pass::Summary, 5, 0x83, LinuxFirst / k, LinuxSectors / k, PartitionOrigin::Gpt,
        131072 / k};
    std::vector<double> times;
    unsigned reads = 0;
    for (int run = 0; run < 200; ++run) {
        const unsigned before = drive.reads;
        const auto start = std::chrono::steady_clock::now();
        for (Pass pass : {Pass::Summary, Pass::Detail}) {
            place.pass = pass;
            SeekSector(place.first);
            ReadSector();
            ExamineExtFiles(place, "ext4");
        }
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        reads = drive.reads - before;
    }
    CloseDisk();
    drive.bytes.swap(image);
    std::sort(times.begin(), times.end());
    std::printf("ext4 boot files of the GPT disk%s, both passes: %u reads, %.3f ms (median).\n",
                sectorSize == 4096 ? " 4Kn" : "", reads, times[times.size() / 2] * 1000);
}

// The disks as image files, for runs of the programs themselves (bench/versus_fdisk.sh).
int WriteImages(const std::string& directory) {
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
    } images[] = {
        {"four-partitions.img", FourPartitionImage(true, true)},
        {"gpt.img", GptImage(512)},
        {"gpt-4096.img", GptImage(4096)},
        {"chain-100000.img", ChainImage(100000, true)},
    };
    for (const auto& image : images) {
        const std::string path = directory + "/" + image.file;
        FILE* out = std::fopen(path.c_str(), "wb");
        if (!out ||
            std::fwrite(image.bytes.data(), 1, image.bytes.size(), out) != image.bytes.size() ||
            std::fclose(out) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-images") == 0)
        return WriteImages(argv[2]);
    ReportSinkFile = DevNull("w");
    ConsoleOut = DevNull("w");
    ConsoleIn = DevNull("r");
    const std::vector<Layout> layouts = {
        {FourPartitions, 2, 2},         {GptDisk, 0, 0},
        {GptDisk4096, 0, 0, 4096},      {"chain 1,000", 1000, 1000},
        {"chain 10,000", 10000, 10000}, {"chain 100,000", 100000, 100000},
    };
    std::vector<Row> rows;
    for (const Layout& layout : layouts) {
        std::printf("measuring %s ...\n", layout.name.c_str());
        std::fflush(stdout);
        rows.push_back(Measure(layout));
    }
    PrintTable(rows);
    std::printf("\n");
    MeasureExtFiles(512);
    MeasureExtFiles(4096);
    bool oneReadEach = true;
    for (const Row& r : rows)
        oneReadEach &= r.records == 0 || r.readsPerRecord == 1.0;
    if (!oneReadEach) {
        std::printf("\nFAILED: an extended record costs more or less than one read per pass.\n");
        return 1;
    }
    return 0;
}
