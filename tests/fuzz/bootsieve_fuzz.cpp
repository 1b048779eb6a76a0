// libFuzzer target: the whole run of the tool (summary pass, then the detail pass
// and the reserved-sector scan of every drive whose MBR was read), then the ext
// reader over drive 0's volumes, over in-memory drives described by the input
// (fuzz_input.h). Every repair question is answered "y", so the restore writes
// into the in-memory image. Reports and console lines go to /dev/null: the
// formats still run, the text is not kept. The same input is also read as a
// registry hive and the BCD store it may hold.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "bootconfig/bcd.h"
#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/memory_disk.h"
#include "driver/run.h"
#include "fuzz_input.h"
#include "layout/crc32.h"
#include "layout/mbr_layout.h"
#include "layout/partition_types.h"
#include "output/output.h"
#include "volume/boot_files.h"
#include "registry/hive.h"

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
        size_t length = std::min<size_t>(ImageSectorSize, d.recordBytes - at - 4);
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
    uint64_t bytes = std::min(sectors, MaxImageSectors) * ImageSectorSize;
    if ((d.options & PartialLastSector) && bytes)
        bytes -= ImageSectorSize / 2;
    return bytes;
}

// Fills bytes (its capacity reused from the last input) with the described image.
void BuildImage(const Description& d, std::vector<uint8_t>& bytes) {
    bytes.assign(ImageBytes(d), 0);
    ForEachRecord(d, [&](uint32_t sector, const uint8_t* contents, size_t length) {
        uint64_t at = uint64_t{sector} * ImageSectorSize;
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
    drive.reportedSize = d.sectors * ImageSectorSize;
    drive.sectorSize = d.answers & LargeSectors ? 4096 : 512;
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
    const unsigned mode = AnswerMode(d.answers);
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

// The harness's own account of where a restore may write, from the image as it
// was before the run: the first sector of a partition whose place holds up, and
// only a copy of a backup boot sector of that partition that fits its volume.
// Where the program's view depends on the size the drive reports, every view
// counts: the harness accepts a superset of what the program may do.
struct Image {
    const std::vector<uint8_t>& bytes;
    unsigned sectorSize;      // the drive's
    uint64_t reportedSectors; // 0 when the size query fails

    uint64_t Sectors() const { return bytes.size() / sectorSize; }
    const uint8_t* At(uint64_t sector) const {
        return sector < Sectors() ? bytes.data() + sector * sectorSize : nullptr;
    }
};

struct Place {
    uint64_t first = 0, last = 0;
    bool gpt = false;
};

bool Overlap(const Place& a, const Place& b) {
    return a.first <= b.last && b.first <= a.last;
}

struct GptView {
    uint64_t firstUsable = 0, lastUsable = 0;
    std::vector<Place> entries; // the first 256 used ones
};

// The GPT header at sector, when it checks (and its entry array too, when asked).
bool ReadGpt(const Image& image, uint64_t sector, bool needArray, GptView* view) {
    const uint8_t* h = image.At(sector);
    if (!h || std::memcmp(h, "EFI PART", 8) != 0)
        return false;
    const uint32_t size = LoadLe32(h + 0x0C);
    if (size < 92 || size > image.sectorSize || LoadLe(h + 0x18, 8) != sector)
        return false;
    std::vector<uint8_t> header(h, h + size);
    std::memset(header.data() + 0x10, 0, 4);
    if (Crc32(header.data(), size) != LoadLe32(h + 0x10))
        return false;
    view->firstUsable = LoadLe(h + 0x28, 8);
    view->lastUsable = LoadLe(h + 0x30, 8);
    if (!needArray)
        return true;
    const uint64_t count = LoadLe32(h + 0x50), entrySize = LoadLe32(h + 0x54);
    const uint64_t array = LoadLe(h + 0x48, 8), bytes = count * entrySize;
    const uint64_t sectors = (bytes + image.sectorSize - 1) / image.sectorSize;
    if (entrySize < 128 || entrySize % 128 || bytes > (4u << 20) || array > image.Sectors() ||
        array + sectors > image.Sectors())
        return false;
    const uint8_t* e = image.bytes.data() + array * image.sectorSize;
    if (Crc32(e, bytes) != LoadLe32(h + 0x58))
        return false;
    static const uint8_t unused[16] = {};
    for (uint64_t i = 0; i < count && view->entries.size() < 256; ++i)
        if (std::memcmp(e + i * entrySize, unused, 16) != 0)
            view->entries.push_back(
                {LoadLe(e + i * entrySize + 0x20, 8), LoadLe(e + i * entrySize + 0x28, 8), true});
    return true;
}

// Every header whose entries the program may trust: the primary, or a backup
// where the primary names it or in the last sector of either size.
std::vector<GptView> GptViews(const Image& image, bool needArray) {
    std::vector<GptView> views;
    GptView view;
    if (ReadGpt(image, 1, needArray, &view))
        views.push_back(view);
    std::vector<uint64_t> backups = {image.Sectors() - 1};
    if (image.reportedSectors)
        backups.push_back(image.reportedSectors - 1);
    if (const uint8_t* h = image.At(1))
        backups.push_back(LoadLe(h + 0x20, 8));
    for (uint64_t backup : backups)
        if (backup > 1 && ReadGpt(image, backup, needArray, &(view = GptView{})))
            views.push_back(view);
    return views;
}

void AddSoundPrimaries(const Image& image, std::vector<Place>& sound) {
    PartitionEntry table[PartitionEntries];
    LoadPartitionTable(image.bytes.data(), table);
    std::vector<Place> primaries;
    bool protective = false;
    for (const PartitionEntry& e : table) {
        protective |= e.type == TypeGptProtective;
        if (e.type != TypeEmpty && e.type != TypeGptProtective && e.count)
            primaries.push_back({e.start, uint64_t{e.start} + e.count - 1, false});
    }
    // The usable range as the walk finds it: the primary's, else the backup's in
    // the last sector of the size reported; with neither, no GPT at all.
    GptView view{0, UINT64_MAX, {}};
    if (protective && !ReadGpt(image, 1, false, &view) &&
        !(image.reportedSectors && ReadGpt(image, image.reportedSectors - 1, false, &view)))
        view = GptView{0, UINT64_MAX, {}};
    for (const PartitionEntry& e : table) {
        const PartitionKind kind = PartitionKindOf(e.type);
        if ((kind != PartitionKind::Ntfs && kind != PartitionKind::Fat32) || !e.count || !e.start)
            continue;
        const Place p{e.start, uint64_t{e.start} + e.count - 1, false};
        int overlaps = 0;
        for (const Place& q : primaries)
            overlaps += Overlap(p, q);
        if (overlaps == 1 && p.first >= view.firstUsable && p.last <= view.lastUsable)
            sound.push_back(p);
    }
}

void AddSoundGptEntries(const Image& image, std::vector<Place>& sound) {
    PartitionEntry table[PartitionEntries];
    LoadPartitionTable(image.bytes.data(), table);
    if (std::none_of(std::begin(table), std::end(table),
                     [](const PartitionEntry& e) { return e.type == TypeGptProtective; }))
        return;
    for (const GptView& view : GptViews(image, true)) {
        for (const Place& p : view.entries) {
            int overlaps = 0;
            for (const Place& q : view.entries)
                overlaps += q.first <= q.last && Overlap(p, q);
            if (p.first <= p.last && p.first >= view.firstUsable && p.last <= view.lastUsable &&
                overlaps == 1)
                sound.push_back(p);
        }
    }
}

bool StartsWith(const Image& image, uint64_t sector, const uint8_t* bytes, const uint8_t* mask,
                int n) {
    const uint8_t* s = image.At(sector);
    for (int i = 0; s && i < n; ++i)
        if ((s[i] & mask[i]) != bytes[i])
            return false;
    return s != nullptr;
}

// NTFS writes clusters of more than 128 sectors as a negative power of two.
uint64_t NtfsClusterSectors(uint8_t field) {
    return field <= 0x80 ? field : 256 - field < 32 ? uint64_t{1} << (256 - field) : 0;
}

// The backup at sector is a real NTFS or FAT32 boot sector that fits the place.
bool FitsPlace(const Image& image, const Place& p, uint64_t sector) {
    const uint8_t* b = image.At(sector);
    if (!b || b[510] != 0x55 || b[511] != 0xAA)
        return false;
    const uint64_t count = p.last - p.first + 1;
    const uint32_t hidden = LoadLe32(b + 0x1C);
    if (hidden != p.first && !(p.gpt && hidden == 0))
        return false;
    static const uint8_t file[4] = {'F', 'I', 'L', 'E'}, all[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const bool ownSize = LoadLe16(b + 0x0B) == image.sectorSize;
    if (sector == p.last && ownSize && std::memcmp(b + 3, "NTFS    ", 8) == 0) {
        const uint64_t spc = NtfsClusterSectors(b[0x0D]), cluster = LoadLe(b + 0x30, 8);
        return LoadLe(b + 0x28, 8) < count && (spc == 0 || cluster <= (count - 1) / spc) &&
               StartsWith(image, p.first + cluster * spc, file, all, 4);
    }
    if (sector == p.first + 6 && ownSize && LoadLe16(b + 0x16) == 0 &&
        std::memcmp(b + 0x52, "FAT32   ", 8) == 0) {
        const uint64_t total = LoadLe16(b + 0x13) ? LoadLe16(b + 0x13) : LoadLe32(b + 0x20);
        const uint64_t fat = p.first + LoadLe16(b + 0x0E);
        const uint8_t start[4] = {b[0x15], 0xFF, 0xFF, 0x0F}, mask[4] = {0xFF, 0xFF, 0xFF, 0x0F};
        return total <= count && fat <= p.last && StartsWith(image, fat, start, mask, 4);
    }
    return false;
}

// A restore of sector with contents after: a copy of a fitting backup over the
// first sector of a sound place.
bool IsFittingRestore(const Image& image, uint64_t sector, const uint8_t* after) {
    if (image.bytes.size() < image.sectorSize || image.bytes[510] != 0x55 ||
        image.bytes[511] != 0xAA)
        return false;
    std::vector<Place> sound;
    AddSoundPrimaries(image, sound);
    AddSoundGptEntries(image, sound);
    for (const Place& p : sound) {
        if (p.first != sector)
            continue;
        for (uint64_t backup : {p.last, p.first + 6})
            if (backup <= p.last && image.At(backup) &&
                std::memcmp(image.At(backup), after, image.sectorSize) == 0 &&
                FitsPlace(image, p, backup))
                return true;
    }
    return false;
}

// The only change a run may make to a drive is the restore of the boot sector of a
// sound primary NTFS or FAT32 partition or GPT partition from its backup, which
// fits the partition.
// Unless a question was answered yes, nothing changes at all.
void CheckOnlyRestoresWritten(const std::vector<uint8_t>& before, const MemoryDrive& drive,
                              bool answeredYes) {
    const std::vector<uint8_t>& after = drive.bytes;
    const uint64_t reported = drive.reportedSize ? drive.reportedSize : before.size();
    const unsigned size = drive.sectorSize;
    const Image image{before, size, drive.sizeKnown ? reported / size : 0};
    if (before.size() != after.size())
        Fail("drive size changed", 0);
    if (before.empty() || std::memcmp(before.data(), after.data(), before.size()) == 0)
        return;
    for (uint64_t at = 0; at < before.size(); at += size) {
        uint64_t length = std::min<uint64_t>(size, before.size() - at);
        if (std::memcmp(before.data() + at, after.data() + at, length) == 0)
            continue;
        uint64_t sector = at / size;
        if (drive.readOnly)
            Fail("read-only drive written", sector);
        if (!answeredYes)
            Fail("sector written without a yes", sector);
        if (length != size || !IsFittingRestore(image, sector, after.data() + at))
            Fail("sector written that is no fitting backup over a sound partition's boot sector",
                 sector);
    }
}

// The ext reader and its boot files over drive 0's primary partitions and over
// the whole drive (a volume without a table), in the detail pass: reached here
// whatever the walk calls it for. It only reads.
void ExamineExtVolumes() {
    if (OpenDisk(0) != 1)
        return;
    SeekSector(0);
    PartitionEntry table[PartitionEntries] = {};
    if (ReadSectorQuietly())
        LoadPartitionTable(SectorBuffer, table);
    uint64_t thousands = 0, kib = 0;
    const uint64_t diskSectors = QueryDiskSize(&thousands, &kib);
    std::vector<std::pair<uint64_t, uint64_t>> volumes = {{0, diskSectors}};
    for (const PartitionEntry& e : table)
        if (e.type != TypeEmpty && e.count)
            volumes.emplace_back(e.start, e.count);
    ReportStream = OutputStream();
    int number = 0;
    for (const auto& [first, count] : volumes) {
        SeekSector(first);
        if (!ReadSectorQuietly())
            continue;
        PartitionPlace place{
            0, Pass::Detail, ++number, 0x83, first, count, PartitionOrigin::Primary, diskSectors};
        ExamineExtFiles(place, "ext4");
    }
    CloseDisk();
}

// Buffers kept across inputs, so that an image of several MiB is not mapped anew
// for every input.
std::vector<uint8_t> Spare[2];
std::vector<uint8_t> Before[2];

// The input as a hive file. Its base block's checksum is made right first, so
// that mutations reach the bins and cells rather than stopping there.
volatile size_t ShownBytes = 0; // the names made, so that they are not left out

void ReadAsBcdStore(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() >= 512 && std::memcmp(bytes.data(), "regf", 4) == 0) {
        uint32_t sum = 0;
        for (unsigned i = 0; i < 508; i += 4)
            sum ^= LoadLe32(bytes.data() + i);
        sum = sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
        for (int i = 0; i < 4; ++i)
            bytes[0x1FC + i] = static_cast<uint8_t>(sum >> (8 * i));
    }
    Hive hive;
    BcdStore store;
    if (!OpenHive(hive, std::move(bytes)) || !ReadBcdStore(hive, &store))
        return;
    for (const BcdObject& o : store.objects)
        ShownBytes = ShownBytes + BcdObjectName(o.id).size() + BcdTypeName(o.type).size() +
                     BcdDeviceIdentity(o.device).size() + BcdDeviceIdentity(o.osDevice).size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAsBcdStore(data, size);
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

    const bool answeredYes =
        !(d.options & NoAnswers) && AnswerMode(d.answers) == AnswerEveryQuestionYes;
    for (int disk = 0; disk < drives; ++disk)
        CheckOnlyRestoresWritten(Before[disk], MemoryDriveAt(disk), answeredYes);
    ExamineExtVolumes();
    return 0;
}
