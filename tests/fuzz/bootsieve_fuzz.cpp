// libFuzzer target: the whole run of the tool (summary pass, then the detail pass
// and the reserved-sector scan of every drive whose MBR was read) over in-memory
// drives described by the input (fuzz_input.h). Every repair question is answered
// "y", so the restore writes into the in-memory image. Reports and console lines
// go to /dev/null: the formats still run, the text is not kept.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/memory_disk.h"
#include "driver/run.h"
#include "fuzz_input.h"
#include "output/output.h"
#include "partition/mbr_layout.h"
#include "partition/partition_types.h"
#include "volume/volume_kind.h"

namespace {

using namespace fuzz_input;

struct Description {
    uint8_t options = 0;
    uint8_t answers = 0;
    uint64_t sectors = 0; // the size the drive reports
    const uint8_t* records = nullptr;
    size_t recordBytes = 0;
};

Description Describe(const uint8_t* data, size_t size) {
    Description d;
    if (size < HeaderSize)
        return d;
    d.options = data[0];
    d.sectors = LoadLe(data + 1, 8);
    d.answers = data[9];
    d.records = data + HeaderSize;
    d.recordBytes = size - HeaderSize;
    return d;
}

template <typename Visit> void ForEachRecord(const Description& d, Visit visit) {
    for (size_t at = 0; at + 4 <= d.recordBytes; at += RecordSize) {
        size_t length = std::min<size_t>(SectorSize, d.recordBytes - at - 4);
        visit(LoadLe32(d.records + at), d.records + at + 4, length);
    }
}

uint64_t ImageBytes(const Description& d) {
    uint64_t sectors = d.sectors;
    if (d.options & EndsAfterLastRecord) {
        sectors = 0;
        ForEachRecord(d, [&](uint32_t sector, const uint8_t*, size_t) {
            sectors = std::max<uint64_t>(sectors, uint64_t{sector} + 1);
        });
    }
    uint64_t bytes = std::min(sectors, MaxImageSectors) * SectorSize;
    if ((d.options & PartialLastSector) && bytes)
        bytes -= SectorSize / 2;
    return bytes;
}

// Fills bytes (its capacity reused from the last input) with the described image.
void BuildImage(const Description& d, std::vector<uint8_t>& bytes) {
    bytes.assign(ImageBytes(d), 0);
    ForEachRecord(d, [&](uint32_t sector, const uint8_t* contents, size_t length) {
        uint64_t at = uint64_t{sector} * SectorSize;
        if (at < bytes.size())
            std::memcpy(bytes.data() + at, contents, std::min<uint64_t>(length, bytes.size() - at));
    });
}

void SetUpDrive(int disk, const Description& d, std::vector<uint8_t>& bytes) {
    MemoryDrive& drive = MemoryDriveAt(disk);
    drive.bytes.swap(bytes);
    drive.present = true;
    drive.readOnly = d.options & ReadOnly;
    drive.sizeKnown = !(d.options & SizeQueryFails);
    drive.reportedSize = d.sectors * SectorSize;
    if (d.options & SecondOpenFails)
        drive.opensLeft = 1;
    else if (d.options & ThirdOpenFails)
        drive.opensLeft = 2;
}

// Where reports and console lines go: /dev/null, or standard output when
// BOOTSIEVE_FUZZ_SHOW is set (to look at what one input produces).
FILE* OutputStream() {
    static FILE* out = std::getenv("BOOTSIEVE_FUZZ_SHOW") ? stdout : std::fopen("/dev/null", "w");
    if (!out)
        std::abort();
    return out;
}

// Standard input: "y\n" or "n\n" for every question, at its end, or failing.
struct AnswerStream {
    char letter;
    size_t position;
};

ssize_t AnswerLines(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<AnswerStream*>(cookie);
    for (size_t i = 0; i < size; ++i)
        buffer[i] = stream->position++ % 2 ? '\n' : stream->letter;
    return static_cast<ssize_t>(size);
}

ssize_t AnswerNothing(void*, char*, size_t) {
    return 0;
}

ssize_t AnswerFails(void*, char*, size_t) {
    errno = EBADF;
    return -1;
}

FILE* OpenAnswers(const Description& d, AnswerStream* stream) {
    cookie_io_functions_t functions{};
    const unsigned mode = d.answers % 3;
    stream->letter = mode == AnswerEveryQuestionNo ? 'n' : 'y';
    stream->position = 0;
    if (d.options & NoAnswers)
        functions.read = AnswerNothing;
    else if (mode == InputFails)
        functions.read = AnswerFails;
    else
        functions.read = AnswerLines;
    FILE* in = fopencookie(stream, "r", functions);
    if (!in)
        std::abort();
    return in;
}

bool OpenNullReport(const char*) {
    ReportStream = OutputStream();
    return true;
}

bool CloseNullReport(const char*) {
    return true;
}

const ReportSink NullReports = {OpenNullReport, CloseNullReport};

[[noreturn]] void Fail(const char* what, uint64_t sector) {
    std::fprintf(stderr, "bootsieve_fuzz: %s (sector %llu)\n", what,
                 static_cast<unsigned long long>(sector));
    std::abort();
}

// Whether sector is the first sector of an entry of the GPT whose header lies at
// headerSector of the image (CRCs not checked: the harness accepts a superset).
bool IsGptPartitionStart(const std::vector<uint8_t>& image, uint64_t headerSector,
                         uint64_t sector) {
    const uint64_t at = headerSector * SectorSize;
    if (image.size() < at + SectorSize || std::memcmp(image.data() + at, "EFI PART", 8) != 0)
        return false;
    const uint64_t entries = LoadLe(image.data() + at + 0x48, 8) * SectorSize;
    const uint64_t count = LoadLe32(image.data() + at + 0x50);
    const uint64_t size = LoadLe32(image.data() + at + 0x54);
    if (size < 128 || count * size > (4u << 20))
        return false;
    for (uint64_t i = 0; i < count && entries + (i + 1) * size <= image.size(); ++i)
        if (LoadLe(image.data() + entries + i * size + 0x20, 8) == sector)
            return true;
    return false;
}

bool IsRestorableBootSector(const std::vector<uint8_t>& before, uint64_t sector) {
    if (before.size() < SectorSize || before[510] != 0x55 || before[511] != 0xAA)
        return false;
    PartitionEntry table[PartitionEntries];
    LoadPartitionTable(before.data(), table);
    for (const PartitionEntry& entry : table) {
        PartitionKind kind = PartitionKindOf(entry.type);
        bool keepsBackup = kind == PartitionKind::Ntfs || kind == PartitionKind::Fat32;
        if (keepsBackup && entry.start == sector)
            return true;
        if (kind == PartitionKind::GptProtective &&
            (IsGptPartitionStart(before, 1, sector) ||
             IsGptPartitionStart(before, before.size() / SectorSize - 1, sector)))
            return true;
    }
    return false;
}

// The only change a run may make to a drive is the restore of the boot sector of a
// primary NTFS or FAT32 partition or of a GPT partition, which then holds a
// signed NTFS or FAT32 boot sector.
// Unless a question was answered yes, nothing changes at all.
void CheckOnlyRestoresWritten(const std::vector<uint8_t>& before, const MemoryDrive& drive,
                              bool answeredYes) {
    const std::vector<uint8_t>& after = drive.bytes;
    if (before.size() != after.size())
        Fail("drive size changed", 0);
    if (before.empty() || std::memcmp(before.data(), after.data(), before.size()) == 0)
        return;
    for (uint64_t at = 0; at < before.size(); at += SectorSize) {
        uint64_t length = std::min<uint64_t>(SectorSize, before.size() - at);
        if (std::memcmp(before.data() + at, after.data() + at, length) == 0)
            continue;
        uint64_t sector = at / SectorSize;
        if (drive.readOnly)
            Fail("read-only drive written", sector);
        if (!answeredYes)
            Fail("sector written without a yes", sector);
        if (!IsRestorableBootSector(before, sector))
            Fail("sector written that is no primary NTFS, FAT32 or GPT partition's boot sector",
                 sector);
        if (length != SectorSize || after[at + 510] != 0x55 || after[at + 511] != 0xAA)
            Fail("restored boot sector is not signed", sector);
        if (!IsNtfsBootSector(after.data() + at) && !IsFat32BootSector(after.data() + at))
            Fail("restored sector is no NTFS or FAT32 boot sector", sector);
    }
}

// Buffers kept across inputs, so that an image of several MiB is not mapped anew
// for every input.
std::vector<uint8_t> Spare[2];
std::vector<uint8_t> Before[2];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < HeaderSize)
        return 0;
    Description d = Describe(data, size);
    int drives = d.options & CopyOnDrive1 ? 2 : 1;
    for (int disk = 0; disk < drives; ++disk)
        Spare[disk].swap(MemoryDriveAt(disk).bytes);
    ResetMemoryDrives();
    for (int disk = 0; disk < drives; ++disk) {
        BuildImage(d, Spare[disk]);
        Before[disk] = Spare[disk];
        SetUpDrive(disk, d, Spare[disk]);
    }

    AnswerStream answers{};
    ConsoleOut = OutputStream();
    ConsoleIn = OpenAnswers(d, &answers);
    RunBootsieve(NullReports);
    std::fclose(ConsoleIn);
    ConsoleIn = stdin;

    const bool answeredYes = !(d.options & NoAnswers) && d.answers % 3 == AnswerEveryQuestionYes;
    for (int disk = 0; disk < drives; ++disk)
        CheckOnlyRestoresWritten(Before[disk], MemoryDriveAt(disk), answeredYes);
    return 0;
}
