// The firmware section through both programs: a fake tree whose entries name the
// ESP of the sgdisk sample disk (its unique GUID given with sgdisk -u), filled by
// mtools, with hostile entries beside them; and a BIOS. The tree is never written.
#include <filesystem>

#include "e2e_fixture.h"
#include "firmware_tree.h"

namespace {

const char* const EspGuid = "11111111-1111-4111-8111-111111111111";
const std::string Heading = "\n-------------------------------------------------------- Firmware\n";

std::map<std::string, std::string> TreeContents(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[entry.path().string()] = ReadTextFile(entry.path().string());
    return files;
}

// A file on the ESP, with the size mcopy wrote.
std::string FileLine(const std::string& path, size_t size) {
    return "    file " + path + ": " + std::to_string(size) + " bytes\n";
}

class FirmwareTest : public ProgramTest {};

TEST_P(FirmwareTest, EntriesOnTheEspOfAnSgdiskDisk) {
    const std::string image = PutSample("gpt.img");
    if (image.empty())
        return;
    WriteTextFile(Path("bootmgfw.efi"), std::string(1536, 'W'));
    WriteTextFile(Path("shimx64.efi"), std::string(2048, 'S'));
    ASSERT_EQ(
        std::system(("MTOOLS_SKIP_CHECK=1 mmd -i '" + image +
                     "@@1048576' ::/EFI/ubuntu "
                     "&& MTOOLS_SKIP_CHECK=1 mcopy -o -i '" +
                     image + "@@1048576' '" + Path("bootmgfw.efi") +
                     "' ::/EFI/Microsoft/Boot/bootmgfw.efi " + "&& MTOOLS_SKIP_CHECK=1 mcopy -i '" +
                     image + "@@1048576' '" + Path("shimx64.efi") + "' ::/EFI/ubuntu/shimx64.efi")
                        .c_str()),
        0);
    const FirmwareTree tree{Path("firmware")};
    tree.PutFile("fw_platform_size", {'6', '4', '\n'});
    tree.Put("SecureBoot", {1});
    tree.Put("SetupMode", {0});
    tree.Put("BootCurrent", Numbers({0}));
    tree.Put("BootOrder", Numbers({0, 1, 2, 0x000A}));
    const Bytes esp = GptNode(1, 2048, 72261, EspGuid);
    tree.Put("Boot0000",
             LoadOptionBytes(1, u"Windows Boot Manager",
                             esp + FileNode(u"\\EFI\\Microsoft\\Boot\\bootmgfw.efi") + EndNode));
    tree.Put("Boot0001", LoadOptionBytes(1, u"ubuntu",
                                         esp + FileNode(u"\\EFI\\ubuntu\\shimx64.efi") + EndNode));
    tree.Put("Boot0002", {1, 0, 0, 0, 0x40, 0, 'X', 0, 0, 0});
    tree.Put("Boot000a", LoadOptionBytes(1, u"lower-case name", esp + EndNode));
    tree.PutFile(std::string("efivars/Boot0003-") + GlobalGuid, {7, 0, 0});
    const auto before = TreeContents(tree.root);

    RunOptions options = Drives({image});
    options.firmware = tree.root;
    const std::string summary = Run(options).Report("Bootsieve.txt");
    std::string expected =
        Heading +
        "Firmware: UEFI, 64-bit.\nSecure Boot: enabled.\nBootCurrent: 0000\n"
        "BootOrder: 0000,0001,0002,000A\n"
        "Boot0000* Windows Boot Manager\n    disk 0 #1 (EFI system partition)\n" +
        FileLine("\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 1536) +
        "    BCD default \"Windows 11\": disk 0 #3 \\Windows\\system32\\winload.efi: 3300 bytes\n"
        "Boot0001* ubuntu\n    disk 0 #1 (EFI system partition)\n" +
        FileLine("\\EFI\\ubuntu\\shimx64.efi", 2048) +
        "Boot0002* X\n    damaged entry (file path list of 64 bytes runs past the "
        "end).\n"
        "Boot0003  (no description)\n    damaged entry (variable unreadable: file of 3 bytes).\n"
        "BootOrder names Boot000A, which does not exist.\n";
    ASSERT_NE(summary.rfind(Heading), std::string::npos);
    EXPECT_EQ(summary.substr(summary.rfind(Heading)), expected);
    EXPECT_EQ(TreeContents(tree.root), before) << "a variable was written";

    // A store that is no hive: its problem stands in the entry's line.
    WriteTextFile(Path("BCD"), std::string(8192, 'B'));
    ASSERT_EQ(std::system(("MTOOLS_SKIP_CHECK=1 mcopy -o -i '" + image + "@@1048576' '" +
                           Path("BCD") + "' ::/EFI/Microsoft/Boot/BCD")
                              .c_str()),
              0);
    EXPECT_EQ(CountOf(Run(options).Report("Bootsieve.txt"),
                      FileLine("\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 1536) +
                          "    BCD is not a readable registry hive (bad signature); its entries "
                          "are not checked.\nBoot0001*"),
              1);

    options.firmware = Path("no-such-directory");
    EXPECT_EQ(CountOf(Run(options).Report("Bootsieve.txt"),
                      Heading +
                          "Firmware: BIOS, or UEFI in legacy (CSM) mode.\nFirmware is BIOS, "
                          "but disk 0 has no MBR boot code; it can start only through UEFI.\n"),
              1);
}

INSTANTIATE_FOR_BOTH_PROGRAMS(FirmwareTest);

} // namespace
