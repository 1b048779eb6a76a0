// The firmware section over fake firmware trees and in-memory drives: a GPT disk
// (ESP, NTFS basic data, Linux) and an MBR disk with a logical partition. The
// ESP's boot files are recorded as the walk records them.
#include <gtest/gtest.h>

#include <functional>

#include "firmware/firmware_section.h"
#include "firmware_tree.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"
#include "volume/partition_record.h"

namespace {

const char* const Esp = "00000001-0000-4000-8000-000000000001";
const char* const BasicData = "00000002-0000-4000-8000-000000000002";
const PartitionPlace EspPlace{0, Pass::Summary, 1, 0, 2048, 2048, PartitionOrigin::Gpt, 40000};
const std::string Heading = "\n-------------------------------------------------------- Firmware\n";

DiskImage GptDisk() {
    DiskImage disk = BlankDisk(40000);
    PutGpt(disk, StandardGpt(40000, {{EspType, 2048, 4095, u"EFI system partition"},
                                     {BasicDataType, 4096, 8191, u"Basic data"},
                                     {LinuxType, 10240, 20479, u"Linux"}}));
    PutFat32WithBackup(disk, 2048, 2048);
    PutNtfsWithBackup(disk, 4096, 4096);
    return disk;
}

// Disk signature 1234ABCD: NTFS at 2048 (#1), and a logical NTFS partition at
// 10240, which the firmware numbers 5.
DiskImage MbrDisk() {
    DiskImage disk = BlankDisk(20000);
    PutTable(disk, 0, {{0x80, 0x07, 2048, 4096}, {0, 0x0F, 8192, 8192}});
    PutLe(disk.At(0).data() + 440, 0x1234ABCD, 4);
    PutTable(disk, 8192, {{0, 0x07, 2048, 4096}});
    PutNtfsWithBackup(disk, 2048, 4096);
    PutNtfsWithBackup(disk, 10240, 4096);
    return disk;
}

Bytes OnEsp(const std::u16string& path, uint64_t start = 2048) {
    return GptNode(1, start, 2048, Esp) + FileNode(path) + EndNode;
}

const Bytes WindowsLoader = OnEsp(u"\\EFI\\Microsoft\\Boot\\bootmgfw.efi");

enum class Drives { Gpt, GptAndMbr, Mbr };

struct FirmwareCase {
    const char* name;
    Drives drives;
    std::function<void(const FirmwareTree&)> fill; // nullptr: BOOTSIEVE_FIRMWARE names no directory
    std::vector<BootFileRecord> espFiles;
    std::string section; // after the heading
};

const FirmwareCase Cases[] = {
    {"Windows Boot Manager and shim on the ESP",
     Drives::Gpt,
     [](const FirmwareTree& t) {
         t.PutFile("fw_platform_size", {'6', '4', '\n'});
         t.Put("SecureBoot", {1});
         t.Put("SetupMode", {0});
         t.Put("BootCurrent", Numbers({1}));
         t.Put("BootOrder", Numbers({1, 0}));
         t.Put("BootNext", Numbers({0}));
         t.Put("Boot0000", LoadOptionBytes(1, u"Windows Boot Manager", WindowsLoader));
         t.Put("Boot0001", LoadOptionBytes(1, u"ubuntu", OnEsp(u"\\EFI\\UBUNTU\\SHIMX64.EFI")));
         t.Put("LoaderDevicePartUUID", Utf16(u"00000001-0000-4000-8000-000000000001"),
               "4a67b082-0a4c-41cf-b6c7-440b29bb8c4f");
     },
     {{"\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 1536000}, {"\\EFI\\ubuntu\\shimx64.efi", 955656}},
     "Firmware: UEFI, 64-bit.\nSecure Boot: enabled.\nBootCurrent: 0001\nBootOrder: 0001,0000\n"
     "Booted from: disk 0 #1 (EFI system partition)\nBootNext: 0000\n"
     "Boot0001* ubuntu\n    disk 0 #1 (EFI system partition)\n"
     "    file \\EFI\\UBUNTU\\SHIMX64.EFI: 955656 bytes\n"
     "Boot0000* Windows Boot Manager\n    disk 0 #1 (EFI system partition)\n"
     "    file \\EFI\\Microsoft\\Boot\\bootmgfw.efi: 1536000 bytes\n"},
    {"every kind of target, and the checks over them",
     Drives::GptAndMbr,
     [](const FirmwareTree& t) {
         t.Put("BootOrder", Numbers({3, 0, 9, 4, 6, 9}));
         t.Put("BootNext", Numbers({2}));
         t.Put("Boot0000", LoadOptionBytes(1, u"Windows Boot Manager", WindowsLoader));
         t.Put("Boot0001",
               LoadOptionBytes(0, u"CD-ROM", Node(5, 1, {2, 0, 0, 0, 'C', 0}) + EndNode));
         t.Put("Boot0002", LoadOptionBytes(1, u"UEFI Shell",
                                           Node(4, 7, Bytes(16, 0xA5)) +
                                               Node(4, 6, Bytes(16, 0x5A)) + EndNode));
         t.Put("Boot0003", LoadOptionBytes(1, u"Fallback", OnEsp(u"\\EFI\\BOOT\\BOOTX64.EFI", 63)));
         t.Put("Boot0004", LoadOptionBytes(1, u"Windows again",
                                           OnEsp(u"\\efi\\microsoft\\boot\\BOOTMGFW.EFI")));
         t.Put("Boot0005",
               LoadOptionBytes(1, u"Old disk",
                               GptNode(2, 34, 9, "DEADBEEF-0000-4000-8000-000000000000") +
                                   FileNode(u"\\EFI\\old.efi") + EndNode));
         t.Put("Boot0006",
               LoadOptionBytes(1, u"NTFS", MbrNode(1, 2048, 4096, 0x1234ABCD) + EndNode));
         t.Put("Boot0007",
               LoadOptionBytes(1, u"Logical", MbrNode(5, 10240, 4096, 0x1234ABCD) + EndNode));
         t.Put("Boot0008", LoadOptionBytes(1, u"Gone", MbrNode(2, 63, 1, 0xCAFEF00D) + EndNode));
         t.Put("Boot000B", LoadOptionBytes(1, u"PXE", Node(3, 11, Bytes(33, 0)) + EndNode));
         t.Put("Boot000C", LoadOptionBytes(1, u"On NTFS",
                                           GptNode(2, 4096, 4096, BasicData) +
                                               FileNode(u"\\EFI\\x.efi") + EndNode));
     },
     {{"\\EFI\\BOOT\\BOOTX64.EFI", 1000}},
     "Firmware: UEFI, 64-bit.\nSecure Boot: not supported.\nBootCurrent: none\n"
     "BootOrder: 0003,0000,0009,0004,0006,0009\nBootNext: 0002\n"
     "Boot0003* Fallback\n"
     "    disk 0 #1 (EFI system partition), moved: the entry says sectors 63 to 2110\n"
     "    file \\EFI\\BOOT\\BOOTX64.EFI: 1000 bytes\n"
     "Boot0000* Windows Boot Manager\n    disk 0 #1 (EFI system partition)\n"
     "    file \\EFI\\Microsoft\\Boot\\bootmgfw.efi: missing\n"
     "Boot0004* Windows again\n    disk 0 #1 (EFI system partition)\n"
     "    file \\efi\\microsoft\\boot\\BOOTMGFW.EFI: missing\n"
     "Boot0006* NTFS\n    disk 1 #1 (Windows NT NTFS)\n"
     "Boot0001  CD-ROM\n    legacy BIOS entry.\n"
     "Boot0002* UEFI Shell\n    firmware application.\n"
     "Boot0005* Old disk\n    partition DEADBEEF-0000-4000-8000-000000000000, on no disk "
     "examined.\n    file \\EFI\\old.efi: not checked\n"
     "Boot0007* Logical\n    disk 1 #5 (Windows NT NTFS)\n"
     "Boot0008* Gone\n    MBR partition 2 of disk signature CAFEF00D, on no disk examined.\n"
     "Boot000B* PXE\n    device path without a partition.\n"
     "Boot000C* On NTFS\n    disk 0 #2 (Microsoft basic data)\n    file \\EFI\\x.efi: not checked\n"
     "BootOrder names Boot0009, which does not exist.\n"
     "Boot0000 and Boot0004 start the same file.\n"
     "Boot0000 starts \\EFI\\Microsoft\\Boot\\bootmgfw.efi, which is missing.\n"
     "Boot0004 starts \\efi\\microsoft\\boot\\BOOTMGFW.EFI, which is missing.\n"},
    {"hostile options",
     Drives::Gpt,
     [](const FirmwareTree& t) {
         t.Put("SecureBoot", {1, 0});
         t.Put("BootOrder", Numbers({0x000A, 0x0009}));
         t.Put("Boot0000", {1, 0, 0, 0, 0});
         t.Put("Boot0001", LoadOptionBytes(1, u"length 0", {}));
         t.Put("Boot0002", LoadOptionBytes(1, u"length 2", {0x7F, 0xFF}));
         Bytes past = LoadOptionBytes(1, u"past the end", EndNode);
         past[4] = 200;
         t.Put("Boot0003", past);
         t.Put("Boot0004", {1, 0, 0, 0, 4, 0, 'A', 0, 'B', 0});
         t.Put("Boot0005", LoadOptionBytes(1, u"short HD", Node(4, 1, Bytes(36, 0)) + EndNode));
         t.Put("Boot0006", LoadOptionBytes(1, u"node of 2", Bytes{4, 4, 2, 0} + EndNode));
         t.Put("Boot0007", LoadOptionBytes(1, u"long node", Bytes{4, 4, 0x40, 0} + EndNode));
         t.PutFile(std::string("efivars/Boot0008-") + GlobalGuid, {7, 0, 0});
         t.Put("Boot000a", LoadOptionBytes(1, u"lower-case name", WindowsLoader));
         t.Put("Boot0009", LoadOptionBytes(1, u"upper-case GUID", WindowsLoader),
               "8BE4DF61-93CA-11D2-AA0D-00E098032B8C");
         t.Put("Boot000B", LoadOptionBytes(1, u"rlo\u202Eexe\uFEFF\x0001",
                                           OnEsp(u"\\EFI\\a\u2028b/\u0085\\c.efi")));
     },
     {},
     "Firmware: UEFI, 64-bit.\nSecure Boot: unreadable.\nBootCurrent: none\nBootOrder: 000A,0009\n"
     "Boot0000* (no description)\n    damaged entry (cut short at 5 bytes).\n"
     "Boot0001* length 0\n    damaged entry (file path list without its end node).\n"
     "Boot0002* length 2\n    damaged entry (device path node cut short at byte 0 of the file "
     "path list).\n"
     "Boot0003* past the end\n    damaged entry (file path list of 200 bytes runs past the end).\n"
     "Boot0004* (no description)\n    damaged entry (description without its terminating zero).\n"
     "Boot0005* short HD\n    damaged entry (hard drive node of 40 bytes, not 42).\n"
     "Boot0006* node of 2\n    damaged entry (device path node of 2 bytes).\n"
     "Boot0007* long node\n    damaged entry (device path node of 64 bytes runs past the file "
     "path list).\n"
     "Boot0008  (no description)\n    damaged entry (variable unreadable: file of 3 bytes).\n"
     "Boot000B* rlo.exe..\n    disk 0 #1 (EFI system partition)\n"
     "    file \\EFI\\a.b/.\\c.efi: missing\n"
     "BootOrder names Boot000A, which does not exist.\n"
     "BootOrder names Boot0009, which does not exist.\n"
     "Boot000B starts \\EFI\\a.b/.\\c.efi, which is missing.\n"
     "Firmware is UEFI, but no entry in BootOrder starts a file on a disk examined.\n"},
    {"BIOS, the GPT disk the only one with Windows",
     Drives::Gpt,
     nullptr,
     {},
     "Firmware: BIOS, or UEFI in legacy (CSM) mode.\nFirmware is BIOS, but disk 0 has no MBR boot "
     "code; it can start only through UEFI.\n"},
    {"BIOS, Windows on an MBR disk too",
     Drives::GptAndMbr,
     nullptr,
     {},
     "Firmware: BIOS, or UEFI in legacy (CSM) mode.\n"},
    {"UEFI without efivarfs, no ESP",
     Drives::Mbr,
     [](const FirmwareTree& t) {
         t.PutFile("fw_platform_size", {'6', '4', '\n'});
     },
     {},
     "Firmware: UEFI; its variables cannot be read (efivarfs not mounted).\n"
     "Firmware is UEFI, but no disk examined has an EFI system partition.\n"},
    {"32-bit UEFI with only BOOTX64.EFI",
     Drives::Gpt,
     [](const FirmwareTree& t) {
         t.PutFile("fw_platform_size", {'3', '2', '\n'});
         t.Put("SecureBoot", {0});
     },
     {{"\\EFI\\BOOT\\BOOTX64.EFI", 1000}, {"\\EFI\\Microsoft\\Boot\\BCD", 100}},
     "Firmware: UEFI, 32-bit.\nSecure Boot: disabled.\nBootCurrent: none\nBootOrder: none\n"
     "Firmware is UEFI, but no entry in BootOrder starts a file on a disk examined.\n"
     "Firmware is UEFI in 32-bit mode; 64-bit loaders (BOOTX64.EFI) cannot start.\n"},
};

class Firmware : public MemoryDriveTest {};

// The run writes the section at the end of the summary report; the ESP's files,
// recorded afterwards, are seen when the section is written again.
TEST_F(Firmware, SectionOverFakeTrees) {
    for (const FirmwareCase& c : Cases) {
        SCOPED_TRACE(c.name);
        ResetMemoryState();
        if (c.drives != Drives::Mbr)
            UseImage(0, GptDisk());
        if (c.drives != Drives::Gpt)
            UseImage(c.drives == Drives::Mbr ? 0 : 1, MbrDisk());
        const FirmwareTree tree = MakeFirmwareTree();
        if (c.fill)
            c.fill(tree);
        ScopedFirmware firmware(c.fill ? tree.root : tree.root + "/none");
        const std::string summary = RunInMemory().summary;
        const size_t at = summary.rfind(Heading);
        ASSERT_NE(at, std::string::npos);
        RecordFilesLookedFor(EspPlace, FilesHeld::Fat);
        for (const BootFileRecord& file : c.espFiles)
            RecordBootFile(EspPlace, file.path, file.size);
        const std::string section = CaptureReport(WriteFirmwareSection);
        EXPECT_EQ(section, Heading + c.section);
        if (c.espFiles.empty()) {
            EXPECT_EQ(summary.substr(at), section);
        }
        RemoveFirmwareTree(tree);
    }
}

TEST_F(Firmware, SecureBootInItsFourStates) {
    const struct {
        Bytes secureBoot, setupMode;
        const char* line;
    } states[] = {{{1}, {0}, "enabled"},
                  {{0}, {0}, "disabled"},
                  {{0}, {1}, "disabled, setup mode"},
                  {{}, {1}, "not supported"}};
    for (const auto& state : states) {
        const FirmwareTree tree = MakeFirmwareTree();
        tree.Put("SetupMode", state.setupMode);
        if (!state.secureBoot.empty())
            tree.Put("SecureBoot", state.secureBoot);
        ScopedFirmware firmware(tree.root);
        EXPECT_EQ(CountOf(CaptureReport(WriteFirmwareSection),
                          "\nSecure Boot: " + std::string(state.line) + ".\n"),
                  1)
            << state.line;
        RemoveFirmwareTree(tree);
    }
}

// A file the firmware names that the boot files do not include is looked up on
// the ESP itself, in the disk's own sectors.
TEST_F(Firmware, FileBeyondTheBootFilesIsLookedUpOnTheEsp) {
    DiskImage disk = GptDisk();
    PutFatFiles(disk, 2048, {{"\\shellx64.efi", 4096}});
    UseImage(0, disk);
    const FirmwareTree tree = MakeFirmwareTree();
    tree.Put("BootOrder", Numbers({0, 1}));
    tree.Put("Boot0000", LoadOptionBytes(1, u"Shell", OnEsp(u"\\SHELLX64.EFI")));
    tree.Put("Boot0001", LoadOptionBytes(1, u"Tools", OnEsp(u"\\EFI\\tools\\gone.efi")));
    ScopedFirmware firmware(tree.root);
    const std::string summary = RunInMemory().summary;
    EXPECT_EQ(CountOf(summary, "    file \\SHELLX64.EFI: 4096 bytes\n"), 1);
    EXPECT_EQ(CountOf(summary, "    file \\EFI\\tools\\gone.efi: missing\n"), 1);
    RemoveFirmwareTree(tree);
}

} // namespace
